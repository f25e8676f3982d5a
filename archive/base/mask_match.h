// Wildcard matching of item names against masks ("*.TXT", "SUB\*.*").
#pragma once

#include <string>

namespace velmora {

// Matches Text from TextPos against Pattern from PatternPos (1-based): "*"
// matches any run of characters, "?" exactly one, anything else itself,
// case-sensitively. Quirks kept for the callers: an empty Text matches only
// an empty Pattern, and "*" or "*.*" from the start match any non-empty Text
// (also one without a dot).
bool MatchPattern(const std::string& Text, int TextPos, const std::string& Pattern,
                  int PatternPos);

// Whether Name matches Spec without regard to case. When Spec has a folder
// part (up to its last "\" or ":"), Name's folder part must match it too.
bool MatchFileSpec(const std::string& Name, const std::string& Spec);

}  // namespace velmora
