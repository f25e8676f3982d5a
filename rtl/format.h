// Format: the printf-like routine the engine's messages are built with.
// Supports %s, %d, %x (lower-case hex), %f, width and precision such as
// %2.0f, and %%. An argument of the wrong kind is converted, never trusted.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

namespace velmora {

class FormatArg {
 public:
  enum class Kind { kInt, kFloat, kText };

  template <typename T, std::enable_if_t<std::is_integral_v<T>, int> = 0>
  FormatArg(T value) : kind_(Kind::kInt), int_(static_cast<int64_t>(value)) {}
  FormatArg(double value) : kind_(Kind::kFloat), float_(value) {}
  FormatArg(const char* value) : kind_(Kind::kText), text_(value ? value : "") {}
  FormatArg(const std::string& value) : kind_(Kind::kText), text_(value) {}
  FormatArg(std::string_view value) : kind_(Kind::kText), text_(value) {}

  Kind kind() const { return kind_; }
  int64_t AsInt() const;
  double AsFloat() const;
  std::string AsText() const;

 private:
  Kind kind_;
  int64_t int_ = 0;
  double float_ = 0;
  std::string_view text_;
};

std::string Format(std::string_view pattern, std::initializer_list<FormatArg> args);

}  // namespace velmora
