// The installer's one window: the banner, the instruction line, Install and
// Close, and the footer. Built from its layout in one function; Install runs
// the installation procedure, Close ends the program.
#pragma once

#include <memory>
#include <string>

#include "archive/unzipper/unzipper.h"
#include "platform/toolkit/toolkit.h"

namespace velmora {

// The application title: the task bar's text and the caption of the error
// and information boxes.
inline constexpr const char* kApplicationTitle = "Velmora - Server";

class TFormMain : public TForm {
 public:
  TFormMain();
  ~TFormMain() override;

  // Children, owned by the form (created by CreateFromLayout).
  TPanel* PanelMenu = nullptr;
  TImage* Image1 = nullptr;  // logo
  TImage* Image3 = nullptr;  // filler between logo and bar, stretched
  TImage* Image2 = nullptr;  // grey bar with a curved left end
  TLabel* Label3 = nullptr;  // instruction line
  TBitBtn* btInstall = nullptr;
  TBitBtn* btClose = nullptr;
  TLabel* Label2 = nullptr;  // footer
  // Unpacks the payload; PasswordRetries 0, every other setting default.
  std::unique_ptr<TAbUnZipper> AbUnZipper1;

  void btInstallClick(void* sender);
  void btCloseClick(void* sender);

 private:
  void CreateFromLayout();
};

// The Install button's work, the installation procedure (installation.cpp).
void InstallServer(TFormMain& form);

// --unattended: presses Install as the administrator would; an error is
// shown in the error box. True when the installation ran to its end.
bool InstallUnattended(TFormMain& form);

// The footer line, the maker's rights notice.
inline constexpr const char* kFooterText = "\xC2\xA9 2026 Velmora Software Ltd.";

// The program's main window while it exists.
extern TFormMain* FormMain;

// The pictures of the window, decoded from the JPEG files built into the
// program.
TBitmap LogoPicture();
TBitmap FillerPicture();
TBitmap BarPicture();
TBitmap InstallGlyph();
TBitmap CloseGlyph();
TBitmap IconPicture();

}  // namespace velmora
