#include "archive/base/path_names.h"

#include <gtest/gtest.h>

#include <vector>

namespace velmora {
namespace {

struct Split {
  std::string drive, directory, name;
};

Split SplitOf(const std::string& path) {
  Split s;
  SplitPath(path, s.drive, s.directory, s.name);
  return s;
}

TEST(BackslashPosition, IsTheLengthInFrontOfTheNthBackslash) {
  EXPECT_EQ(BackslashPosition("C:\\a\\b", 1), 2);
  EXPECT_EQ(BackslashPosition("C:\\a\\b", 2), 4);
  EXPECT_EQ(BackslashPosition("C:\\a\\b", 3), 6);  // fewer: the whole length
  EXPECT_EQ(BackslashPosition("", 1), 0);
  EXPECT_EQ(BackslashPosition("\\\\srv\\share\\d", 4), 11);
}

TEST(PathKind, TellsFullRelativeAndBareNames) {
  EXPECT_EQ(PathKind("C:\\x.zip"), 2);
  EXPECT_EQ(PathKind("C:x.zip"), 2);
  EXPECT_EQ(PathKind("\\\\srv\\share\\x.zip"), 2);
  EXPECT_EQ(PathKind("dir\\x.zip"), 1);
  EXPECT_EQ(PathKind("\\x.zip"), 1);  // rooted but without a drive
  EXPECT_EQ(PathKind("dir/x.zip"), 1);
  EXPECT_EQ(PathKind("x.zip"), 0);
  EXPECT_EQ(PathKind(""), 0);
}

TEST(SlashesToBackslashes, TurnsEverySlash) {
  std::string path = "a/b//c\\d/";
  SlashesToBackslashes(path);
  EXPECT_EQ(path, "a\\b\\\\c\\d\\");
}

TEST(SplitPath, SplitsDriveDirectoryAndName) {
  Split s = SplitOf("C:\\dir\\sub\\file.txt");
  EXPECT_EQ(s.drive, "C:");
  EXPECT_EQ(s.directory, "dir\\sub\\");
  EXPECT_EQ(s.name, "file.txt");
}

TEST(SplitPath, ReadsZipSlashes) {
  Split s = SplitOf("dir/file.txt");
  EXPECT_EQ(s.drive, "");
  EXPECT_EQ(s.directory, "dir\\");
  EXPECT_EQ(s.name, "file.txt");
}

TEST(SplitPath, TakesServerAndShareAsTheDriveOfAUncPath) {
  Split s = SplitOf("\\\\srv\\share\\d\\f.txt");
  EXPECT_EQ(s.drive, "\\\\srv\\share");
  EXPECT_EQ(s.directory, "d\\");
  EXPECT_EQ(s.name, "f.txt");
}

TEST(SplitPath, HandlesDegenerateNamesWithoutOverrun) {
  Split bare = SplitOf("*.*");
  EXPECT_EQ(bare.drive + "|" + bare.directory + "|" + bare.name, "||*.*");
  Split drive_only = SplitOf("C:");
  EXPECT_EQ(drive_only.drive + "|" + drive_only.directory + "|" + drive_only.name, "C:||");
  Split relative_drive = SplitOf("C:name");
  EXPECT_EQ(relative_drive.drive + "|" + relative_drive.directory + "|" + relative_drive.name,
            "C:||name");
  Split short_unc = SplitOf("\\\\srv\\");
  EXPECT_EQ(short_unc.drive + "|" + short_unc.directory + "|" + short_unc.name, "\\\\srv\\||");
  Split empty = SplitOf("");
  EXPECT_EQ(empty.drive + "|" + empty.directory + "|" + empty.name, "||");
}

TEST(DirectoryTreePrefixes, WalksFromTheFirstFolderBelowTheDrive) {
  EXPECT_EQ(DirectoryTreePrefixes("C:\\x\\y\\z"),
            (std::vector<std::string>{"C:\\x", "C:\\x\\y", "C:\\x\\y\\z"}));
}

TEST(DirectoryTreePrefixes, EndsOnTheDirectoryItselfWithATrailingBackslash) {
  EXPECT_EQ(DirectoryTreePrefixes("C:\\a\\"), (std::vector<std::string>{"C:\\a", "C:\\a\\"}));
}

TEST(DirectoryTreePrefixes, SkipsServerAndShareOfAUncPath) {
  EXPECT_EQ(DirectoryTreePrefixes("\\\\srv\\share\\d\\e"),
            (std::vector<std::string>{"\\\\srv\\share\\d", "\\\\srv\\share\\d\\e"}));
}

}  // namespace
}  // namespace velmora
