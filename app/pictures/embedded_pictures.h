// The window's pictures as the JPEG files of app/pictures, built into the
// program (embedded_pictures.cpp is made at build time).
#pragma once

#include <cstddef>

namespace velmora::pictures {

struct EmbeddedFile {
  const unsigned char* data;
  size_t size;
};

extern const EmbeddedFile kLogoJpeg;          // 225 x 40, Image1
extern const EmbeddedFile kFillerJpeg;        // 47 x 40, Image3
extern const EmbeddedFile kBarJpeg;           // 165 x 40, Image2
extern const EmbeddedFile kInstallGlyphJpeg;  // 16 x 16 on magenta
extern const EmbeddedFile kCloseGlyphJpeg;    // 16 x 16 on magenta
extern const EmbeddedFile kIconJpeg;          // 32 x 32, the window's icon

}  // namespace velmora::pictures
