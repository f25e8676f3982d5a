// The main window as its layout describes it, its pictures as built into the
// program, and Close; without a display (the terminal widget set).
#include <gtest/gtest.h>

#include <sstream>

#include "app/main_form.h"
#include "platform/toolkit/toolkit.h"

namespace velmora {
namespace {

TEST(MainForm, IsAFixedWhiteDialogCentredOnTheScreen) {
  TFormMain form;
  EXPECT_EQ(form.Name(), "FormMain");
  EXPECT_EQ(form.Caption, "Velmora");
  EXPECT_EQ(form.ClientWidth, 394);
  EXPECT_EQ(form.ClientHeight, 142);
  EXPECT_EQ(form.Color, clWhite);
  EXPECT_EQ(form.BorderStyle, TBorderStyle::bsDialog);
  EXPECT_EQ(form.Position, TPosition::poScreenCenter);
  EXPECT_EQ(form.Font.Name, "MS Sans Serif");
  EXPECT_EQ(form.Font.Height, -11);
  EXPECT_EQ(form.Icon.Width, 32);
  EXPECT_EQ(form.Icon.Height, 32);
  EXPECT_EQ(FormMain, &form);
}

TEST(MainForm, ControlsSitWhereTheLayoutPutsThem) {
  TFormMain form;
  EXPECT_EQ(form.PanelMenu->BoundsRect(), (TRect{0, 0, 394, 40}));
  EXPECT_FALSE(form.PanelMenu->BevelOuter);
  EXPECT_EQ(form.Image1->BoundsRect(), (TRect{0, 0, 225, 40}));
  EXPECT_EQ(form.Image3->BoundsRect(), (TRect{225, 0, 4, 40}));
  EXPECT_TRUE(form.Image3->Stretch);
  EXPECT_EQ(form.Image2->BoundsRect(), (TRect{229, 0, 165, 40}));
  EXPECT_EQ(form.Label3->BoundsRect(), (TRect{9, 51, 377, 29}));
  EXPECT_EQ(form.btInstall->BoundsRect(), (TRect{111, 84, 75, 30}));
  EXPECT_EQ(form.btClose->BoundsRect(), (TRect{208, 84, 75, 30}));
  EXPECT_EQ(form.Label2->BoundsRect(), (TRect{103, 120, 188, 13}));
  for (TImage* image : {form.Image1, form.Image2, form.Image3})
    EXPECT_EQ(image->Parent(), form.PanelMenu);
}

TEST(MainForm, TextsAndButtons) {
  TFormMain form;
  EXPECT_EQ(form.Label3->Caption, "You are about to install the Velmora server software.");
  EXPECT_EQ(form.Label3->Alignment, TAlignment::taCenter);
  EXPECT_TRUE(form.Label3->WordWrap);
  EXPECT_FALSE(form.Label3->AutoSize);
  EXPECT_FALSE(form.Label2->Caption.empty());
  EXPECT_EQ(form.btInstall->Caption, "Install");
  EXPECT_EQ(form.btClose->Caption, "&Close");
  EXPECT_EQ(form.btClose->Accelerator(), 'c');
  EXPECT_LT(form.btInstall->TabOrder, form.btClose->TabOrder);
  // Neither is the default or the cancel button: Enter presses the focused
  // one, Escape nothing.
  EXPECT_FALSE(form.btInstall->Default || form.btInstall->Cancel);
  EXPECT_FALSE(form.btClose->Default || form.btClose->Cancel);
  EXPECT_EQ(form.Focused(), form.btInstall);
  EXPECT_TRUE(form.btInstall->OnClick);
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
