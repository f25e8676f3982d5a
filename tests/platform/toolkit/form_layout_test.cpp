// Where controls land after alignment: strips from the edges, the client
// control in what remains, unaligned controls at their own place.
#include <gtest/gtest.h>

#include "platform/toolkit/toolkit.h"

namespace velmora {
namespace {

TBitmap Blank(int width, int height) {
  TBitmap picture;
  picture.Width = width;
  picture.Height = height;
  picture.Pixels.assign(static_cast<size_t>(width) * height * 3, 255);
  return picture;
}

TEST(FormLayout, BannerOfLeftRightAndStretchedClientImages) {
  TForm form("f");
  form.ClientWidth = 394;
  form.ClientHeight = 142;
  auto& panel = form.Add<TPanel>("panel");
  panel.Align = TAlign::alTop;
  panel.SetBounds(0, 0, 394, 40);
  auto& left = form.Add<TImage>("left", &panel);
  left.Align = TAlign::alLeft;
  left.AutoSize = true;
  left.SetPicture(Blank(225, 40));
  auto& right = form.Add<TImage>("right", &panel);
  right.Align = TAlign::alRight;
  right.AutoSize = true;
  right.SetPicture(Blank(165, 40));
  auto& middle = form.Add<TImage>("middle", &panel);
  middle.Align = TAlign::alClient;
  middle.Stretch = true;
  middle.SetPicture(Blank(47, 40));
  auto& label = form.Add<TLabel>("label");
  label.SetBounds(9, 51, 377, 29);

  EXPECT_EQ(panel.BoundsRect(), (TRect{0, 0, 394, 40}));
  EXPECT_EQ(left.BoundsRect(), (TRect{0, 0, 225, 40}));
  EXPECT_EQ(right.BoundsRect(), (TRect{229, 0, 165, 40}));
  EXPECT_EQ(middle.BoundsRect(), (TRect{225, 0, 4, 40}));
  EXPECT_EQ(label.BoundsRect(), (TRect{9, 51, 377, 29}));
}

TEST(FormLayout, ControlsInsideAPanelAreOffsetByIt) {
  TForm form("f");
  form.ClientWidth = 100;
  form.ClientHeight = 100;
  auto& top = form.Add<TPanel>("top");
  top.Align = TAlign::alTop;
  top.Height = 10;
  auto& bottom = form.Add<TPanel>("bottom");
  bottom.Align = TAlign::alBottom;
  bottom.Height = 20;
  auto& rest = form.Add<TPanel>("rest");
  rest.Align = TAlign::alClient;
  auto& inner = form.Add<TLabel>("inner", &rest);
  inner.SetBounds(5, 6, 7, 8);
  EXPECT_EQ(bottom.BoundsRect(), (TRect{0, 80, 100, 20}));
  EXPECT_EQ(rest.BoundsRect(), (TRect{0, 10, 100, 70}));
  EXPECT_EQ(inner.BoundsRect(), (TRect{5, 16, 7, 8}));
}

TEST(FormLayout, AutoSizeImageTakesItsPictureSize) {
  TForm form("f");
  auto& image = form.Add<TImage>("i");
  image.SetPicture(Blank(30, 20));
  EXPECT_EQ(image.Width, 0);  // not auto-sized
  image.AutoSize = true;
  image.SetPicture(Blank(30, 20));
  EXPECT_EQ(image.Width, 30);
  EXPECT_EQ(image.Height, 20);
}

}  // namespace
}  // namespace velmora
