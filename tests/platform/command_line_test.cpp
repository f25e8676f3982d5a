#include "platform/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velmora {
namespace {

using Args = std::vector<std::string>;

TEST(SplitCommandLineArguments, SeparatesOnBlanksAndTabsOutsideQuotes) {
  EXPECT_EQ(SplitCommandLineArguments(" /VERYSILENT /DISABLEPOPS"),
            (Args{"/VERYSILENT", "/DISABLEPOPS"}));
  EXPECT_EQ(SplitCommandLineArguments("a\t\tb  "), (Args{"a", "b"}));
  EXPECT_EQ(SplitCommandLineArguments("\"a b\" c\"d e\"f"), (Args{"a b", "cd ef"}));
  EXPECT_EQ(SplitCommandLineArguments(""), Args{});
  EXPECT_EQ(SplitCommandLineArguments("   "), Args{});
  EXPECT_EQ(SplitCommandLineArguments("a \"\" b \"\""), (Args{"a", "", "b", ""}));
}

TEST(SplitCommandLineArguments, HalvesBackslashesOnlyBeforeAQuote) {
  EXPECT_EQ(SplitCommandLineArguments(R"(c:\dir\ a\\b)"), (Args{R"(c:\dir\)", R"(a\\b)"}));
  // 2n backslashes and a quote: n backslashes, the quote opens quoting.
  EXPECT_EQ(SplitCommandLineArguments(R"(a\\"b c" d)"), (Args{R"(a\b c)", "d"}));
  // 2n+1: n backslashes and a literal quote.
  EXPECT_EQ(SplitCommandLineArguments(R"(a\"b c)"), (Args{R"(a"b)", "c"}));
  EXPECT_EQ(SplitCommandLineArguments(R"(a\\\"b)"), (Args{R"(a\"b)"}));
  EXPECT_EQ(SplitCommandLineArguments(R"("c:\Program Files\\" x)"),
            (Args{R"(c:\Program Files\)", "x"}));
}

TEST(SplitCommandLineArguments, TreatsRunsOfQuotesTheWayWindowsDoes) {
  // Inside quotes a doubled quote is a literal one and quoting ends.
  EXPECT_EQ(SplitCommandLineArguments(R"("a""b c")"), (Args{R"(a"b)", "c"}));
  EXPECT_EQ(SplitCommandLineArguments(R"("a""b" c)"), (Args{R"(a"b c)"}));
  EXPECT_EQ(SplitCommandLineArguments(R"(""")"), (Args{"\""}));
  // Seven quotes: every third of the run is literal, and it ends quoted.
  EXPECT_EQ(SplitCommandLineArguments(R"(""""""" x)"), (Args{R"("" x)"}));
}

TEST(CommandLineToArgvA, TakesTheProgramNameWithoutBackslashRules) {
  EXPECT_EQ(CommandLineToArgvA(R"("c:\Program Files\a.exe" /x "y z")"),
            (Args{R"(c:\Program Files\a.exe)", "/x", "y z"}));
  EXPECT_EQ(CommandLineToArgvA(R"(c:\dir\\"x y)"), (Args{R"(c:\dir\\"x)", "y"}));
  EXPECT_EQ(CommandLineToArgvA(R"("a b"c d)"), (Args{"a b", "c", "d"}));
  // A leading blank leaves the program name empty, as on Windows.
  EXPECT_EQ(CommandLineToArgvA(" /VERYSILENT"), (Args{"", "/VERYSILENT"}));
  EXPECT_EQ(CommandLineToArgvA(""), Args{});
  EXPECT_EQ(CommandLineToArgvA("\"unterminated"), (Args{"unterminated"}));
}

}  // namespace
}  // namespace velmora
