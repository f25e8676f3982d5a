#include "tools/vunzip/wildcard.h"

#include <cctype>
#include <cstddef>
#include <vector>

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

// -W's reading. Two kinds of star defeat the one-star backtracking below (a
// later "*" no longer stands for every run an earlier "**" could take), so
// this one keeps, name position by position, which mask prefixes match:
// the same |mask| * |name| steps at most, with one row of memory.
bool MatchStoppingAtFolders(std::string_view mask, std::string_view name, bool case_blind) {
  // matched[j]: the mask read so far matches name's first j characters.
  std::vector<char> matched(name.size() + 1, 0), next(name.size() + 1);
  matched[0] = 1;
  size_t m = 0;
  while (m < mask.size()) {
    const char token = mask[m];
    if (token == '*') {
      const bool any = m + 1 < mask.size() && mask[m + 1] == '*';
      m += any ? 2 : 1;
      while (m < mask.size() && mask[m] == '*') ++m;  // "***" is "**"
      for (size_t j = 1; j <= name.size(); ++j) {
        if (!matched[j] && matched[j - 1] && (any || name[j - 1] != '/')) matched[j] = 1;
      }
      continue;
    }
    // One character of the name, by a "?", a class or a literal.
    size_t width = 1;
    next[0] = 0;
    for (size_t j = 1; j <= name.size(); ++j) {
      const char c = name[j - 1];
      bool hit = false;
      if (token == '?') {
        hit = c != '/';
      } else if (token == '[') {
        size_t end = 0;
        hit = ClassMatches(mask, m + 1, c, case_blind, end);
        if (end == std::string_view::npos) {
          hit = c == '[';  // not closed: an ordinary "["
        } else {
          width = end - m;  // a class may match "/", as unzip's does
        }
      } else {
        char literal = token;
        if (token == '\\' && m + 1 < mask.size()) {
          literal = mask[m + 1];
          width = 2;
        }
        hit = Fold(literal, case_blind) == Fold(c, case_blind);
      }
      next[j] = hit && matched[j - 1];
    }
    matched.swap(next);
    m += width;
  }
  return matched[name.size()] != 0;
}

}  // namespace

// Iterative, with one remembered star: backtracking to the last "*" is
// enough for a glob and keeps the work at |mask| * |name| at most, so a
// hostile mask such as "*a*a*a*a*b" cannot take exponential time.
bool WildcardMatch(std::string_view mask, std::string_view name, bool case_blind,
                   bool stop_at_folder) {
  if (stop_at_folder) return MatchStoppingAtFolders(mask, name, case_blind);
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
