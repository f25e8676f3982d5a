// JPEG pictures through libjpeg. libjpeg reports a fatal error by calling
// error_exit, which must not return; we leave it with longjmp back into the
// one frame that called libjpeg, and raise from there, so no C++ object's
// lifetime is skipped and no exception crosses libjpeg's C frames.
#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstdio>

#include <jpeglib.h>

#include "platform/toolkit/toolkit.h"
#include "rtl/exceptions.h"

namespace velmora {

namespace {

struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf resume;
};

[[noreturn]] void JumpOnError(j_common_ptr info) {
  auto* manager = reinterpret_cast<ErrorManager*>(info->err);
  std::longjmp(manager->resume, 1);
}

void IgnoreMessage(j_common_ptr) {}

// Fills picture; false when libjpeg gave up. Only trivially destructible
// locals live in this frame after setjmp, as longjmp requires.
bool Decode(const uint8_t* data, size_t size, TBitmap& picture) {
  jpeg_decompress_struct info;
  ErrorManager errors;
  info.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = JumpOnError;
  errors.base.output_message = IgnoreMessage;
  if (setjmp(errors.resume)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  if (info.output_components != 3) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  picture.Width = static_cast<int>(info.output_width);
  picture.Height = static_cast<int>(info.output_height);
  const size_t row_bytes = static_cast<size_t>(info.output_width) * 3;
  picture.Pixels.resize(row_bytes * info.output_height);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = picture.Pixels.data() + row_bytes * info.output_scanline;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

}  // namespace

TRgb TBitmap::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= Width || y >= Height) return {};
  const uint8_t* p = Pixels.data() + (static_cast<size_t>(y) * Width + x) * 3;
  return {p[0], p[1], p[2]};
}

std::vector<uint8_t> GlyphMask(const TBitmap& glyph) {
  // The sum of the three channel differences: JPEG at full quality stays
  // well inside it, and no glyph colour meant to show comes this close to
  // the key.
  constexpr int kKeyDistance = 96;
  std::vector<uint8_t> mask(static_cast<size_t>(std::max(glyph.Width, 0)) *
                            std::max(glyph.Height, 0));
  if (glyph.Empty()) return mask;
  const TRgb key = glyph.Pixel(0, glyph.Height - 1);
  for (int y = 0; y < glyph.Height; ++y) {
    for (int x = 0; x < glyph.Width; ++x) {
      TRgb p = glyph.Pixel(x, y);
      int distance = std::abs(p.r - key.r) + std::abs(p.g - key.g) + std::abs(p.b - key.b);
      mask[static_cast<size_t>(y) * glyph.Width + x] = distance <= kKeyDistance ? 0 : 255;
    }
  }
  return mask;
}

TBitmap DecodeJpeg(const uint8_t* data, size_t size) {
  TBitmap picture;
  if (!data || size == 0 || !Decode(data, size, picture)) throw Exception("Invalid JPEG picture");
  return picture;
}

}  // namespace velmora
