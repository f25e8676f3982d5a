#include "rtl/format.h"

#include <cinttypes>
#include <cstdio>
#include <string>

namespace velmora {

int64_t FormatArg::AsInt() const {
  switch (kind_) {
    case Kind::kInt: return int_;
    case Kind::kFloat: return static_cast<int64_t>(float_);
    case Kind::kText: return 0;
  }
  return 0;
}

double FormatArg::AsFloat() const {
  return kind_ == Kind::kFloat ? float_ : static_cast<double>(AsInt());
}

std::string FormatArg::AsText() const {
  switch (kind_) {
    case Kind::kText: return std::string(text_);
    case Kind::kInt: return std::to_string(int_);
    case Kind::kFloat: return std::to_string(float_);
  }
  return {};
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a run of digits; a width or precision beyond 999 is clamped so a
// hostile pattern cannot ask for a giant buffer.
int ReadNumber(std::string_view pattern, size_t& i) {
  int value = 0;
  while (i < pattern.size() && IsDigit(pattern[i])) {
    if (value < 1000) value = value * 10 + (pattern[i] - '0');
    ++i;
  }
  return value > 999 ? 999 : value;
}

void Pad(std::string& out, std::string piece, int width, bool left) {
  if (static_cast<int>(piece.size()) < width) {
    std::string fill(width - piece.size(), ' ');
    piece = left ? piece + fill : fill + piece;
  }
  out += piece;
}

}  // namespace

std::string Format(std::string_view pattern, std::initializer_list<FormatArg> args) {
  std::string out;
  out.reserve(pattern.size() + 16);
  const FormatArg* next = args.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    char c = pattern[i];
    if (c != '%' || i + 1 >= pattern.size()) {
      out += c;
      continue;
    }
    size_t start = i++;
    if (pattern[i] == '%') {
      out += '%';
      continue;
    }
    bool left = false;
    if (pattern[i] == '-') {
      left = true;
      ++i;
    }
    int width = ReadNumber(pattern, i);
    int precision = -1;
    if (i < pattern.size() && pattern[i] == '.') {
      ++i;
      precision = ReadNumber(pattern, i);
    }
    if (i >= pattern.size()) {
      out.append(pattern.substr(start));
      break;
    }
    char conversion = pattern[i];
    if (next == args.end()) {
      // Too few arguments: keep the placeholder rather than invent a value.
      out.append(pattern.substr(start, i - start + 1));
      continue;
    }
    const FormatArg& arg = *next++;
    char buffer[1100];
    switch (conversion) {
      case 'd':
      case 'u':
        std::snprintf(buffer, sizeof buffer, "%" PRId64, arg.AsInt());
        Pad(out, buffer, width, left);
        break;
      case 'x':
      case 'X': {
        // A negative 32-bit value prints as its two's complement, as on Windows.
        int64_t value = arg.AsInt();
        uint64_t bits = value < 0 && value >= INT32_MIN ? static_cast<uint32_t>(value)
                                                        : static_cast<uint64_t>(value);
        std::snprintf(buffer, sizeof buffer, conversion == 'x' ? "%" PRIx64 : "%" PRIX64, bits);
        Pad(out, buffer, width, left);
        break;
      }
      case 'f':
        std::snprintf(buffer, sizeof buffer, "%.*f", precision < 0 ? 2 : precision, arg.AsFloat());
        Pad(out, buffer, width, left);
        break;
      case 's': {
        std::string text = arg.AsText();
        if (precision >= 0 && static_cast<size_t>(precision) < text.size()) text.resize(precision);
        Pad(out, std::move(text), width, left);
        break;
      }
      default:
        // Unknown conversion: copy it through untouched.
        out.append(pattern.substr(start, i - start + 1));
        --next;
        break;
    }
  }
  return out;
}

}  // namespace velmora
