#include "archive/base/mask_match.h"

#include <gtest/gtest.h>

#include <random>

namespace velmora {
namespace {

TEST(MatchPattern, StarDotStarMatchesNamesWithoutADot) {
  EXPECT_TRUE(MatchPattern("README", 1, "*.*", 1));
  EXPECT_TRUE(MatchPattern("README", 1, "*", 1));
}

TEST(MatchPattern, ExtensionMaskMatchesWholeExtensionOnly) {
  EXPECT_TRUE(MatchPattern("A.TXT", 1, "*.TXT", 1));
  EXPECT_FALSE(MatchPattern("A.TXTX", 1, "*.TXT", 1));
  EXPECT_FALSE(MatchPattern("a.txt", 1, "*.TXT", 1));  // exact: callers upper-case
}

TEST(MatchPattern, QuestionMarkNeedsACharacter) {
  EXPECT_FALSE(MatchPattern("AB", 1, "AB?", 1));
  EXPECT_TRUE(MatchPattern("ABC", 1, "AB?", 1));
  EXPECT_TRUE(MatchPattern("ABC", 1, "?B?", 1));
}

TEST(MatchPattern, EmptyTextMatchesOnlyAnEmptyPattern) {
  EXPECT_TRUE(MatchPattern("", 1, "", 1));
  EXPECT_FALSE(MatchPattern("", 1, "*", 1));
  EXPECT_FALSE(MatchPattern("", 1, "*.*", 1));
}

TEST(MatchPattern, EmptyPatternMatchesOnlyFromPastTheEnd) {
  EXPECT_TRUE(MatchPattern("AB", 3, "", 1));
  EXPECT_FALSE(MatchPattern("AB", 1, "", 1));
}

TEST(MatchPattern, EachStarContinuesWhereTheTextStands) {
  EXPECT_TRUE(MatchPattern("BAA", 1, "*A*A", 1));
  EXPECT_FALSE(MatchPattern("BBA", 1, "*A*A", 1));
  EXPECT_TRUE(MatchPattern("XAYBZ", 1, "*A*B*", 1));
}

TEST(MatchPattern, StartsFromTheGivenPositions) {
  EXPECT_TRUE(MatchPattern("XXA.TXT", 3, "*.TXT", 1));
  EXPECT_TRUE(MatchPattern("A.TXT", 1, "Q*.TXT", 2));
  // "*.*" is a match-all only from the start of the pattern.
  EXPECT_FALSE(MatchPattern("README", 1, "Q*.*", 2));
}

TEST(MatchPattern, ManyStarsAgainstALongNameFinishQuickly) {
  const std::string text(4000, 'A');
  const std::string pattern = "*A*A*A*A*A*A*A*A*A*A*A*A*A*A*A*A*B";
  EXPECT_FALSE(MatchPattern(text, 1, pattern, 1));
}

// The matching rule written out as recursion over every split at every
// star; fine for short texts.
bool Reference(const std::string& t, size_t i, const std::string& p, size_t j) {
  while (true) {
    if (i >= t.size() && j >= p.size()) return true;
    if (j >= p.size()) return false;
    if (p[j] == '*') {
      if (j + 1 == p.size()) return true;
      for (size_t k = i; k <= t.size(); ++k) {
        if (Reference(t, k, p, j + 1)) return true;
      }
      return false;
    }
    if (i >= t.size() || (p[j] != '?' && p[j] != t[i])) return false;
    ++i;
    ++j;
  }
}

TEST(MatchPattern, AgreesWithTryingEverySplitOnRandomInput) {
  std::mt19937 rng(5);
  const char text_chars[] = "AB.";
  const char pattern_chars[] = "AB.*?";
  for (int trial = 0; trial < 20000; ++trial) {
    std::string text(1 + rng() % 8, ' '), pattern(rng() % 7, ' ');
    for (char& c : text) c = text_chars[rng() % 3];
    for (char& c : pattern) c = pattern_chars[rng() % 5];
    if (pattern == "*" || pattern == "*.*" || pattern.empty()) continue;
    ASSERT_EQ(MatchPattern(text, 1, pattern, 1), Reference(text, 0, pattern, 0))
        << text << " against " << pattern;
  }
}

TEST(MatchFileSpec, MaskWithoutFolderPassesAnyFolder) {
  EXPECT_TRUE(MatchFileSpec("DIR\\SUB\\A.TXT", "*.*"));
  EXPECT_TRUE(MatchFileSpec("dir\\sub\\a.txt", "*.TXT"));
}

TEST(MatchFileSpec, WholeArchiveMasksMatchEveryNameButAFolderEntry) {
  for (const char* spec : {"*", "*.*"}) {
    EXPECT_TRUE(MatchFileSpec("a", spec));
    EXPECT_TRUE(MatchFileSpec("dir\\sub\\a.txt", spec));
    EXPECT_TRUE(MatchFileSpec("c:name", spec));
    EXPECT_FALSE(MatchFileSpec("dir\\", spec)) << "a folder entry's name part is empty";
    EXPECT_FALSE(MatchFileSpec("c:", spec));
    EXPECT_FALSE(MatchFileSpec("", spec));
  }
}

TEST(MatchFileSpec, FolderOfTheMaskMustMatchTheNamesFolder) {
  EXPECT_FALSE(MatchFileSpec("a.txt", "SUB\\*.TXT"));
  EXPECT_TRUE(MatchFileSpec("sub\\a.txt", "SUB\\*.TXT"));
  EXPECT_TRUE(MatchFileSpec("x\\sub\\a.txt", "*\\SUB\\*.TXT"));
  EXPECT_FALSE(MatchFileSpec("other\\a.txt", "SUB\\*.TXT"));
}

TEST(MatchFileSpec, IgnoresCase) {
  EXPECT_TRUE(MatchFileSpec("Setup.Exe", "*.exe"));
  EXPECT_FALSE(MatchFileSpec("Setup.Exe", "*.com"));
}

}  // namespace
}  // namespace velmora
