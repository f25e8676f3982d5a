// The main window as its layout describes it, its pictures as built into the
// program, and Close; without a display (the terminal widget set).
#include <gtest/gtest.h>

#include <sstream>

#include "app/main_form.h"
#include "platform/toolkit/toolkit.h"

namespace velmora {
namespace {

bool Overlap(const TRect& a, const TRect& b) {
  return a.Left < b.Left + b.Width && b.Left < a.Left + a.Width && a.Top < b.Top + b.Height &&
         b.Top < a.Top + a.Height;
}
bool Inside(const TRect& inner, const TRect& outer) {
  return inner.Left >= outer.Left && inner.Top >= outer.Top &&
         inner.Left + inner.Width <= outer.Left + outer.Width &&
         inner.Top + inner.Height <= outer.Top + outer.Height;
}
int Bottom(const TRect& r) { return r.Top + r.Height; }
// Twice the horizontal centre, so that odd widths compare exactly.
int DoubleCentre(const TRect& r) { return 2 * r.Left + r.Width; }

TEST(MainForm, IsAFixedSizeDialogCentredOnTheScreen) {
  TFormMain form;
  EXPECT_EQ(form.Caption, "Velmora");
  // The client size the layout was drawn for; the window cannot be resized.
  EXPECT_EQ(form.ClientWidth, 394);
  EXPECT_EQ(form.ClientHeight, 142);
  EXPECT_EQ(form.BorderStyle, TBorderStyle::bsDialog);
  EXPECT_EQ(form.Position, TPosition::poScreenCenter);
  EXPECT_EQ(form.Icon.Width, 32);
  EXPECT_EQ(form.Icon.Height, 32);
  EXPECT_EQ(FormMain, &form);
}

TEST(MainForm, EveryControlIsInsideTheWindowAndNoneCoversAnother) {
  TFormMain form;
  const TRect client{0, 0, form.ClientWidth, form.ClientHeight};
  const auto& controls = form.Controls();
  ASSERT_FALSE(controls.empty());
  for (size_t i = 0; i < controls.size(); ++i) {
    const TControl& control = *controls[i];
    const TRect bounds = control.BoundsRect();
    EXPECT_GT(bounds.Width, 0) << control.Name();
    EXPECT_GT(bounds.Height, 0) << control.Name();
    EXPECT_TRUE(Inside(bounds, client)) << control.Name();
    if (control.Parent() != nullptr) {
      EXPECT_TRUE(Inside(bounds, control.Parent()->BoundsRect())) << control.Name();
    }
    for (size_t j = i + 1; j < controls.size(); ++j) {
      if (controls[j]->Parent() != control.Parent()) continue;  // only siblings may not overlap
      EXPECT_FALSE(Overlap(bounds, controls[j]->BoundsRect()))
          << control.Name() << " and " << controls[j]->Name();
    }
  }
}

TEST(MainForm, BannerPicturesFillTheBandAcrossTheTop) {
  TFormMain form;
  const TRect band = form.PanelMenu->BoundsRect();
  EXPECT_EQ(band.Top, 0);
  EXPECT_EQ(band.Width, form.ClientWidth);
  EXPECT_FALSE(form.PanelMenu->BevelOuter);  // no frame between banner and window
  // Logo, filler and bar side by side, each the band's height, edge to edge.
  int next_left = band.Left;
  for (TImage* image : {form.Image1, form.Image3, form.Image2}) {
    EXPECT_EQ(image->Parent(), form.PanelMenu);
    const TRect r = image->BoundsRect();
    EXPECT_EQ(r.Left, next_left) << image->Name();
    EXPECT_EQ(r.Top, band.Top) << image->Name();
    EXPECT_EQ(r.Height, band.Height) << image->Name();
    next_left = r.Left + r.Width;
  }
  EXPECT_EQ(next_left, band.Left + band.Width);
  // The filler is narrower or wider than its picture; it stretches to fit.
  EXPECT_TRUE(form.Image3->Stretch);
}

TEST(MainForm, ButtonsStandSideBySideUnderTheInstructionCentredWithTheText) {
  TFormMain form;
  const TRect banner = form.PanelMenu->BoundsRect(), text = form.Label3->BoundsRect();
  const TRect install = form.btInstall->BoundsRect(), close = form.btClose->BoundsRect();
  const TRect footer = form.Label2->BoundsRect();
  EXPECT_GE(text.Top, Bottom(banner));
  EXPECT_GE(install.Top, Bottom(text));
  EXPECT_EQ(install.Top, close.Top);
  EXPECT_EQ(install.Width, close.Width);
  EXPECT_EQ(install.Height, close.Height);
  EXPECT_LT(install.Left + install.Width, close.Left);  // Install first, a gap between
  EXPECT_GE(footer.Top, Bottom(install));
  // The pair, the instruction and the footer share the window's centre line.
  const int centre = form.ClientWidth;
  EXPECT_EQ(install.Left + close.Left + close.Width, centre);
  EXPECT_NEAR(DoubleCentre(text), centre, 1);
  EXPECT_NEAR(DoubleCentre(footer), centre, 1);
}

TEST(MainForm, TextsAndButtons) {
  TFormMain form;
  EXPECT_EQ(form.Label3->Caption, "You are about to install the Velmora server software.");
  EXPECT_EQ(form.Label3->Alignment, TAlignment::taCenter);
  EXPECT_TRUE(form.Label3->WordWrap);
  EXPECT_EQ(form.Label2->Caption, kFooterText);
  EXPECT_EQ(form.btInstall->Caption, "Install");
  EXPECT_EQ(form.btClose->Caption, "&Close");
  EXPECT_EQ(form.btClose->Accelerator(), 'c');
  EXPECT_LT(form.btInstall->TabOrder, form.btClose->TabOrder);
  // Neither is the default or the cancel button: Enter presses the focused
  // one, Escape nothing.
  EXPECT_FALSE(form.btInstall->Default || form.btInstall->Cancel);
  EXPECT_FALSE(form.btClose->Default || form.btClose->Cancel);
  EXPECT_EQ(form.Focused(), form.btInstall);
  // The payload is not encrypted: no password is ever asked for.
  EXPECT_EQ(form.AbUnZipper1->PasswordRetries(), 0);
}

TEST(MainForm, CloseClickClosesTheWindowAndEndsTheLoop) {
  std::istringstream in("\x1b\nc\ni\n");  // Escape, then Close
  std::ostringstream out;
  Application().SetWidgetSet(MakeTerminalWidgetSet(in, out));
  TFormMain form;
  Application().Run(form);
  EXPECT_TRUE(form.Closed());
  EXPECT_FALSE(form.Showing());
  EXPECT_NE(out.str().find("== Velmora ==\nYou are about to install the Velmora server "
                           "software.\n"),
            std::string::npos)
      << out.str();
  EXPECT_NE(out.str().find("[I]nstall [C]lose"), std::string::npos);
  Application().SetWidgetSet(nullptr);
}

TEST(MainForm, PressingCloseInCodeClosesTheWindow) {
  TFormMain form;
  form.btClose->Click();
  EXPECT_TRUE(form.Closed());
}

TEST(WindowPictures, DecodeToTheirLayoutSizes) {
  struct Expected {
    TBitmap picture;
    int width, height;
  };
  const Expected pictures[] = {{LogoPicture(), 225, 40},  {FillerPicture(), 47, 40},
                               {BarPicture(), 165, 40},   {InstallGlyph(), 16, 16},
                               {CloseGlyph(), 16, 16},    {IconPicture(), 32, 32}};
  for (const Expected& e : pictures) {
    EXPECT_EQ(e.picture.Width, e.width);
    EXPECT_EQ(e.picture.Height, e.height);
    EXPECT_EQ(e.picture.Pixels.size(), static_cast<size_t>(e.width) * e.height * 3);
  }
}

TEST(WindowPictures, BannerIsWhiteWithAGreyLineAlongTheBottom) {
  for (const TBitmap& picture : {LogoPicture(), FillerPicture()}) {
    TRgb top_right = picture.Pixel(picture.Width - 1, 0);
    EXPECT_GT(top_right.r + top_right.g + top_right.b, 3 * 245);
    TRgb line = picture.Pixel(picture.Width - 1, 39);
    EXPECT_LT(line.r + line.g + line.b, 3 * 215);
    EXPECT_GT(line.r + line.g + line.b, 3 * 150);
  }
  // The bar is grey at its right end and white left of its curve.
  TBitmap bar = BarPicture();
  TRgb right = bar.Pixel(160, 20), left = bar.Pixel(2, 2);
  EXPECT_LT(right.r + right.g + right.b, 3 * 200);
  EXPECT_NEAR(right.r, right.b, 24);  // grey, not coloured
  EXPECT_GT(left.r + left.g + left.b, 3 * 245);
}

TEST(WindowPictures, GlyphsAreDiscsOnTransparentMagenta) {
  for (const TBitmap& glyph : {InstallGlyph(), CloseGlyph()}) {
    TRgb key = glyph.Pixel(0, 15);
    EXPECT_GT(key.r, 240);
    EXPECT_LT(key.g, 16);
    EXPECT_GT(key.b, 240);
    std::vector<uint8_t> mask = GlyphMask(glyph);
    int shown = 0;
    for (uint8_t m : mask) shown += m ? 1 : 0;
    // A disc of radius about 7.5 shows (π·7.5² ≈ 177 pixels); the corners
    // are see-through.
    EXPECT_GT(shown, 150);
    EXPECT_LT(shown, 200);
    EXPECT_EQ(mask[0], 0);
    EXPECT_EQ(mask[15], 0);
    EXPECT_EQ(mask[255], 0);
    EXPECT_EQ(mask[8 * 16 + 8], 255);
  }
  // Install's disc is green, Close's red.
  TRgb install = InstallGlyph().Pixel(3, 11), close = CloseGlyph().Pixel(3, 11);
  EXPECT_GT(install.g, install.r);
  EXPECT_GT(close.r, close.g);
}

}  // namespace
}  // namespace velmora
