// JPEG decoding through libjpeg, checked against pictures encoded here with
// libjpeg itself, and the glyph mask's transparent key colour.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

#include "platform/toolkit/toolkit.h"
#include "rtl/exceptions.h"

namespace velmora {
namespace {

// Encodes width x height pixels (components 3: RGB, 1: grey) at quality 100
// without chroma subsampling.
std::vector<uint8_t> Encode(int width, int height, int components,
                            const std::vector<uint8_t>& pixels, bool progressive = false) {
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = components;
  info.in_color_space = components == 3 ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 100, TRUE);
  for (int c = 0; c < info.num_components; ++c) {
    info.comp_info[c].h_samp_factor = 1;
    info.comp_info[c].v_samp_factor = 1;
  }
  if (progressive) jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<uint8_t*>(pixels.data()) +
                   static_cast<size_t>(info.next_scanline) * width * components;
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::vector<uint8_t> jpeg(buffer, buffer + size);
  std::free(buffer);
  return jpeg;
}

// Colour channels within JPEG's rounding of each other.
void ExpectNear(TRgb actual, TRgb expected) {
  EXPECT_NEAR(actual.r, expected.r, 6);
  EXPECT_NEAR(actual.g, expected.g, 6);
  EXPECT_NEAR(actual.b, expected.b, 6);
}

// 16 x 16: magenta background with a red disc of radius 6 in the middle.
std::vector<uint8_t> DiscOnMagenta() {
  std::vector<uint8_t> pixels;
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      bool inside = (x - 7.5) * (x - 7.5) + (y - 7.5) * (y - 7.5) <= 36;
      pixels.insert(pixels.end(), {255, 0, static_cast<uint8_t>(inside ? 0 : 255)});
    }
  }
  return pixels;
}

TEST(DecodeJpeg, GivesSizeAndColoursOfAColourPicture) {
  // Left half white, right half navy, 24 x 8.
  std::vector<uint8_t> pixels;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 24; ++x)
      pixels.insert(pixels.end(), x < 12 ? std::initializer_list<uint8_t>{255, 255, 255}
                                         : std::initializer_list<uint8_t>{29, 63, 115});
  std::vector<uint8_t> jpeg = Encode(24, 8, 3, pixels);
  TBitmap picture = DecodeJpeg(jpeg.data(), jpeg.size());
  EXPECT_EQ(picture.Width, 24);
  EXPECT_EQ(picture.Height, 8);
  ASSERT_EQ(picture.Pixels.size(), 24u * 8 * 3);
  ExpectNear(picture.Pixel(2, 2), clWhite);
  ExpectNear(picture.Pixel(20, 5), TRgb{29, 63, 115});
}

TEST(DecodeJpeg, TurnsGreyAndProgressivePicturesIntoRgb) {
  std::vector<uint8_t> grey(10 * 6, 128);
  std::vector<uint8_t> jpeg = Encode(10, 6, 1, grey);
  TBitmap picture = DecodeJpeg(jpeg.data(), jpeg.size());
  EXPECT_EQ(picture.Pixels.size(), 10u * 6 * 3);
  ExpectNear(picture.Pixel(9, 5), TRgb{128, 128, 128});

  jpeg = Encode(16, 16, 3, DiscOnMagenta(), /*progressive=*/true);
  picture = DecodeJpeg(jpeg.data(), jpeg.size());
  EXPECT_EQ(picture.Width, 16);
  ExpectNear(picture.Pixel(8, 8), TRgb{255, 0, 0});
}

TEST(DecodeJpeg, RejectsDataThatIsNoJpeg) {
  const uint8_t not_jpeg[] = {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0};
  try {
    DecodeJpeg(not_jpeg, sizeof not_jpeg);
    FAIL() << "no exception";
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), "Invalid JPEG picture");
  }
  EXPECT_THROW(DecodeJpeg(nullptr, 0), Exception);
  // The start of a real JPEG, cut before its frame header.
  std::vector<uint8_t> jpeg = Encode(16, 16, 3, DiscOnMagenta());
  EXPECT_THROW(DecodeJpeg(jpeg.data(), 20), Exception);
}

TEST(DecodeJpeg, PixelOutsideThePictureIsBlack) {
  std::vector<uint8_t> jpeg = Encode(16, 16, 3, DiscOnMagenta());
  TBitmap picture = DecodeJpeg(jpeg.data(), jpeg.size());
  EXPECT_EQ(picture.Pixel(16, 0), TRgb{});
  EXPECT_EQ(picture.Pixel(-1, 3), TRgb{});
}

TEST(GlyphMask, BottomLeftColourIsTransparentAfterJpegRounding) {
  std::vector<uint8_t> jpeg = Encode(16, 16, 3, DiscOnMagenta());
  TBitmap glyph = DecodeJpeg(jpeg.data(), jpeg.size());
  std::vector<uint8_t> mask = GlyphMask(glyph);
  ASSERT_EQ(mask.size(), 256u);
  auto at = [&mask](int x, int y) { return mask[static_cast<size_t>(y) * 16 + x]; };
  EXPECT_EQ(at(0, 15), 0);
  EXPECT_EQ(at(0, 0), 0);
  EXPECT_EQ(at(15, 15), 0);
  EXPECT_EQ(at(8, 8), 255);
  EXPECT_EQ(at(3, 8), 255);
  // Exactly the disc shows: every pixel's mask follows the drawn shape.
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      EXPECT_EQ(at(x, y), (x - 7.5) * (x - 7.5) + (y - 7.5) * (y - 7.5) <= 36 ? 255 : 0)
          << x << "," << y;
}

TEST(GlyphMask, KeyIsWhateverTheBottomLeftPixelHolds) {
  TBitmap glyph;
  glyph.Width = 2;
  glyph.Height = 2;
  // Top row: white, green; bottom row: green (the key), white.
  glyph.Pixels = {255, 255, 255, 0, 200, 0, 0, 200, 0, 255, 255, 255};
  EXPECT_EQ(GlyphMask(glyph), (std::vector<uint8_t>{255, 0, 0, 255}));
  EXPECT_TRUE(GlyphMask(TBitmap{}).empty());
}

}  // namespace
}  // namespace velmora
