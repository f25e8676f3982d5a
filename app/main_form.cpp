#include "app/main_form.h"

#include "app/pictures/embedded_pictures.h"
#include "app/setup_log.h"
#include "rtl/exceptions.h"

namespace velmora {

TFormMain* FormMain = nullptr;

namespace {

TBitmap Decoded(const pictures::EmbeddedFile& file) { return DecodeJpeg(file.data, file.size); }

}  // namespace

TBitmap LogoPicture() { return Decoded(pictures::kLogoJpeg); }
TBitmap FillerPicture() { return Decoded(pictures::kFillerJpeg); }
TBitmap BarPicture() { return Decoded(pictures::kBarJpeg); }
TBitmap InstallGlyph() { return Decoded(pictures::kInstallGlyphJpeg); }
TBitmap CloseGlyph() { return Decoded(pictures::kCloseGlyphJpeg); }
TBitmap IconPicture() { return Decoded(pictures::kIconJpeg); }

TFormMain::TFormMain() : TForm("FormMain") {
  CreateFromLayout();
  if (!FormMain) FormMain = this;
}

TFormMain::~TFormMain() {
  if (FormMain == this) FormMain = nullptr;
}

// The window's layout, in pixels at 96 dpi relative to the client area.
void TFormMain::CreateFromLayout() {
  Caption = "Velmora";
  BorderStyle = TBorderStyle::bsDialog;
  Position = TPosition::poScreenCenter;
  ClientWidth = 394;
  ClientHeight = 142;
  Color = clWhite;
  Font = TFontSpec{"MS Sans Serif", -11, clWindowText};
  Icon = IconPicture();

  PanelMenu = &Add<TPanel>("PanelMenu");
  PanelMenu->Align = TAlign::alTop;
  PanelMenu->SetBounds(0, 0, 394, 40);
  PanelMenu->BevelOuter = false;
  PanelMenu->Color = clWhite;
  PanelMenu->TabOrder = 0;

  Image1 = &Add<TImage>("Image1", PanelMenu);
  Image1->Align = TAlign::alLeft;
  Image1->AutoSize = true;
  Image1->SetPicture(LogoPicture());  // 225 x 40

  Image2 = &Add<TImage>("Image2", PanelMenu);
  Image2->Align = TAlign::alRight;
  Image2->AutoSize = true;
  Image2->SetPicture(BarPicture());  // 165 x 40

  Image3 = &Add<TImage>("Image3", PanelMenu);
  Image3->Align = TAlign::alClient;
  Image3->Stretch = true;
  Image3->SetPicture(FillerPicture());  // 47 x 40, drawn 4 x 40

  Label3 = &Add<TLabel>("Label3");
  Label3->SetBounds(9, 51, 377, 29);
  Label3->AutoSize = false;
  Label3->Alignment = TAlignment::taCenter;
  Label3->WordWrap = true;
  Label3->Caption = "You are about to install the Velmora server software.";

  btInstall = &Add<TBitBtn>("btInstall");
  btInstall->SetBounds(111, 84, 75, 30);
  btInstall->Caption = "Install";
  btInstall->TabOrder = 1;
  btInstall->Glyph = InstallGlyph();
  btInstall->OnClick = [this](void* sender) { btInstallClick(sender); };

  btClose = &Add<TBitBtn>("btClose");
  btClose->SetBounds(208, 84, 75, 30);
  btClose->Caption = "&Close";
  btClose->TabOrder = 2;
  btClose->Glyph = CloseGlyph();
  btClose->OnClick = [this](void* sender) { btCloseClick(sender); };

  Label2 = &Add<TLabel>("Label2");
  Label2->SetBounds(103, 120, 188, 13);
  Label2->Caption = kFooterText;
  // The box is the width of the notice in the window's font and centred in
  // the window; centring the text in it keeps it so whatever face draws it.
  Label2->Alignment = TAlignment::taCenter;

  // The panel takes no focus, so the first focus is Install's.
  ActiveControl = btInstall;

  AbUnZipper1 = std::make_unique<TAbUnZipper>();
  AbUnZipper1->SetPasswordRetries(0);
}

void TFormMain::btInstallClick(void*) {
  try {
    InstallServer(*this);
  } catch (const Exception& error) {
    LogStep("Installation stopped: " + error.Message());
    throw;
  }
}

bool InstallUnattended(TFormMain& form) {
  try {
    form.btInstall->Click();
  } catch (...) {
    // The error box, which the unattended front end prints on standard
    // error.
    Application().HandleException();
    return false;
  }
  return form.Closed();
}

void TFormMain::btCloseClick(void*) { Close(); }

}  // namespace velmora
