#include "tools/vunzip/wildcard.h"

#include <cctype>
#include <cstddef>

namespace velmora::vunzip {

namespace {

char Fold(char c, bool case_blind) {
  return case_blind ? static_cast<char>(std::tolower(static_cast<unsigned char>(c))) : c;
}

// Matches the class starting just behind "[" against c. Sets end to the
// index behind "]"; returns false with end == npos when the class is not
// closed, in which case "[" is an ordinary character.
bool ClassMatches(std::string_view mask, size_t start, char c, bool case_blind, size_t& end) {
  size_t i = start;
  bool negated = false;
  if (i < mask.size() && (mask[i] == '!' || mask[i] == '^')) {
    negated = true;
    ++i;
  }
  bool matched = false;
  bool first = true;
  const char folded = Fold(c, case_blind);
  while (i < mask.size() && (first || mask[i] != ']')) {
    first = false;
    char low = mask[i];
    if (low == '\\' && i + 1 < mask.size()) low = mask[++i];
    ++i;
    char high = low;
    if (i + 1 < mask.size() && mask[i] == '-' && mask[i + 1] != ']') {
      high = mask[i + 1];
      if (high == '\\' && i + 2 < mask.size()) high = mask[++i + 1];
      i += 2;
    }
    const unsigned char f = static_cast<unsigned char>(folded);
    if (case_blind) {
      const unsigned char lo = static_cast<unsigned char>(Fold(low, true));
      const unsigned char hi = static_cast<unsigned char>(Fold(high, true));
      const unsigned char up = static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(c)));
      if ((lo <= f && f <= hi) ||
          (static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(low))) <= up &&
           up <= static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(high))))) {
        matched = true;
      }
    } else if (static_cast<unsigned char>(low) <= f && f <= static_cast<unsigned char>(high)) {
      matched = true;
    }
  }
  if (i >= mask.size()) {
    end = std::string_view::npos;
    return false;
  }
  end = i + 1;
  return matched != negated;
}

}  // namespace

// Iterative, with one remembered star: backtracking to the last "*" is
// enough for a glob and keeps the work at |mask| * |name| at most, so a
// hostile mask such as "*a*a*a*a*b" cannot take exponential time.
bool WildcardMatch(std::string_view mask, std::string_view name, bool case_blind) {
  size_t m = 0, n = 0;
  size_t star_m = std::string_view::npos, star_n = 0;
  while (n < name.size()) {
    if (m < mask.size()) {
      const char token = mask[m];
      if (token == '*') {
        star_m = m++;
        star_n = n;
        continue;
      }
      if (token == '?') {
        ++m;
        ++n;
        continue;
      }
      if (token == '[') {
        size_t end = 0;
        const bool hit = ClassMatches(mask, m + 1, name[n], case_blind, end);
        if (end != std::string_view::npos) {
          if (hit) {
            m = end;
            ++n;
            continue;
          }
        } else if (name[n] == '[') {
          ++m;
          ++n;
          continue;
        }
      } else {
        char literal = token;
        size_t width = 1;
        if (token == '\\' && m + 1 < mask.size()) {
          literal = mask[m + 1];
          width = 2;
        }
        if (Fold(literal, case_blind) == Fold(name[n], case_blind)) {
          m += width;
          ++n;
          continue;
        }
      }
    }
    if (star_m == std::string_view::npos) return false;
    m = star_m + 1;
    n = ++star_n;
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

}  // namespace velmora::vunzip
