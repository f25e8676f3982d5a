#include "archive/base/mask_match.h"

#include "platform/sysutils.h"

namespace velmora {

namespace {

// Glob matching of text[t..] against pattern[p..] (0-based). Backtracks only
// to the last "*" seen, which gives the same answer as trying every split at
// every star but in O(|text| * |pattern|) steps, so a hostile mask with many
// stars cannot stall the extraction.
bool GlobMatch(const std::string& text, size_t t, const std::string& pattern, size_t p) {
  size_t star = std::string::npos;  // position in pattern after the last '*'
  size_t star_text = 0;             // where the text stood when it was seen
  while (true) {
    if (p < pattern.size() && pattern[p] == '*') {
      if (p + 1 == pattern.size()) return true;
      star = ++p;
      star_text = t;
      continue;
    }
    if (t >= text.size() && p >= pattern.size()) return true;
    const bool step = t < text.size() && p < pattern.size() &&
                      (pattern[p] == '?' || pattern[p] == text[t]);
    if (step) {
      ++t;
      ++p;
      continue;
    }
    // Let the last star swallow one more character and try again.
    if (star == std::string::npos || star_text >= text.size()) return false;
    p = star;
    t = ++star_text;
  }
}

void SplitAtLastSeparator(const std::string& path, std::string& folder, std::string& name) {
  const size_t cut = path.find_last_of("\\:");
  folder = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
  name = cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

bool MatchPattern(const std::string& Text, int TextPos, const std::string& Pattern,
                  int PatternPos) {
  if (Text.empty()) return Pattern.empty();
  if (PatternPos == 1 && (Pattern == "*.*" || Pattern == "*")) return true;
  if (Pattern.empty()) return TextPos == static_cast<int>(Text.size()) + 1;
  if (TextPos < 1 || PatternPos < 1) return false;
  return GlobMatch(Text, static_cast<size_t>(TextPos - 1), Pattern,
                   static_cast<size_t>(PatternPos - 1));
}

bool MatchFileSpec(const std::string& Name, const std::string& Spec) {
  if (Spec == "*" || Spec == "*.*") {
    // Any name part but an empty one, whatever the case: the mask of a
    // whole-archive extraction, asked once per item.
    const size_t cut = Name.find_last_of("\\:");
    return cut == std::string::npos ? !Name.empty() : cut + 1 < Name.size();
  }
  std::string name_folder, name_part, spec_folder, spec_part;
  SplitAtLastSeparator(AnsiUpperCase(Name), name_folder, name_part);
  SplitAtLastSeparator(AnsiUpperCase(Spec), spec_folder, spec_part);
  if (!spec_folder.empty() && !MatchPattern(name_folder, 1, spec_folder, 1)) return false;
  return MatchPattern(name_part, 1, spec_part, 1);
}

}  // namespace velmora
