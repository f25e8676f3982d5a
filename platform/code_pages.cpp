// Code pages: the ANSI code page is UTF-8, as the locale is; the OEM one is
// 437, the MS-DOS code page that ZIP archives made on MS-DOS store names in.
// Also the upper-case folding that case-blind name comparisons use.
#include <array>
#include <cstdint>
#include <string>

#include "platform/host_files.h"
#include "platform/win32.h"

namespace velmora {

namespace {

// CP437 bytes 0x80 to 0xFF as Unicode code points (the table of the code
// page as Windows and Python's cp437 codec define it).
constexpr std::array<char16_t, 128> kCp437High = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 0x80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 0x90
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // 0xA0
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // 0xB0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // 0xC0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // 0xD0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,  // 0xE0
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,  // 0xF0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};
static_assert(kCp437High.size() == 128);

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Decodes one UTF-8 sequence at text[i]; returns its length, or 0 when the
// bytes there are not a well-formed sequence.
size_t DecodeUtf8(const std::string& text, size_t i, char32_t* out) {
  auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  uint8_t lead = byte(i);
  size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3
                                  : (lead >> 3) == 0x1E ? 4 : 0;
  if (length == 0 || length > text.size() - i) return 0;
  char32_t c = length == 1 ? lead : lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (byte(i + k) & 0x3F);
  }
  // Overlong forms and surrogates are not well formed.
  static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kSmallest[length] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return 0;
  *out = c;
  return length;
}

// The upper-case letter of c in the scripts a user's folder names are most
// likely written in; anything else is its own upper case. The dotless i and
// the sharp s stay, as Windows leaves them.
char32_t UpperOf(char32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 0x20 : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;   // Latin-1
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x137 && c != 0x131) return c & ~char32_t{1};  // Latin Extended-A
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return c % 2 == 0 ? c - 1 : c;
  if (c >= 0x14A && c <= 0x177) return c & ~char32_t{1};
  if (c == 0x3C2) return 0x3A3;                               // Greek final sigma
  if (c >= 0x3B1 && c <= 0x3CB) return c - 0x20;
  if (c == 0x3AC) return 0x386;
  if (c >= 0x3AD && c <= 0x3AF) return c - 0x25;
  if (c == 0x3CC) return 0x38C;
  if (c == 0x3CD || c == 0x3CE) return c - 0x3F;
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;              // Cyrillic
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F)) {
    return c & ~char32_t{1};
  }
  return c;
}

}  // namespace

bool AreFileApisANSI() { return true; }
UINT GetACP() { return 65001; }
UINT GetOEMCP() { return 437; }

std::string OemToCharA(const std::string& oem) {
  std::string out;
  out.reserve(oem.size());
  for (char c : oem) {
    auto byte = static_cast<uint8_t>(c);
    if (byte < 0x80) {
      out += c;
    } else {
      AppendUtf8(out, kCp437High[byte - 0x80]);
    }
  }
  return out;
}

namespace host {

std::string FoldCase(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    // ASCII, nearly every name: upper-cased without decoding.
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      out += static_cast<char>(byte >= 'a' && byte <= 'z' ? byte - 0x20 : byte);
      ++i;
      continue;
    }
    char32_t c = 0;
    size_t length = DecodeUtf8(text, i, &c);
    if (length == 0) {
      out += text[i];  // not UTF-8: the byte stays as it is
      ++i;
      continue;
    }
    if (length == 1) {
      out += static_cast<char>(UpperOf(c));
    } else {
      AppendUtf8(out, UpperOf(c));
    }
    i += length;
  }
  return out;
}

}  // namespace host
}  // namespace velmora
