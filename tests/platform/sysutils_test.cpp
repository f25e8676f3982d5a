#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "platform/sysutils.h"
#include "tests/platform/platform_fixture.h"

namespace velmora {
namespace {

using SysUtilsTest = PlatformTest;

TEST_F(SysUtilsTest, FileAndDirectoryExistence) {
  WriteHostFile(DriveC("file.txt"), "x");
  ASSERT_EQ(::mkdir(DriveC("Folder").c_str(), 0777), 0);
  EXPECT_TRUE(FileExists("c:\\FILE.TXT"));
  EXPECT_FALSE(FileExists("c:\\folder"));
  EXPECT_FALSE(FileExists("c:\\none.txt"));
  EXPECT_TRUE(DirectoryExists("c:\\folder\\"));
  EXPECT_TRUE(DirectoryExists("c:\\"));
  EXPECT_FALSE(DirectoryExists("c:\\file.txt"));
  EXPECT_FALSE(DirectoryExists("c:\\*"));
}

TEST_F(SysUtilsTest, CreateDeleteAndRename) {
  EXPECT_FALSE(CreateDir("c:\\a\\b"));
  EXPECT_TRUE(CreateDir("c:\\a"));
  EXPECT_TRUE(CreateDir("c:\\a\\b"));
  WriteHostFile(DriveC("a/b/f"), "x");
  EXPECT_TRUE(RenameFile("c:\\A\\B\\F", "c:\\a\\g"));
  EXPECT_EQ(ReadHostFile(DriveC("a/g")), "x");
  EXPECT_TRUE(DeleteFile("c:\\a\\G"));
  EXPECT_FALSE(HostExists(DriveC("a/g")));
  EXPECT_FALSE(DeleteFile("c:\\a\\G"));
}

TEST(FileNameParts, SplitOnBackslashColonAndSlash) {
  EXPECT_EQ(ExtractFilePath("c:\\Program Files\\Velmora\\Readme.txt"), "c:\\Program Files\\Velmora\\");
  EXPECT_EQ(ExtractFileName("c:\\Program Files\\Velmora\\Readme.txt"), "Readme.txt");
  EXPECT_EQ(ExtractFileExt("c:\\Program Files\\Velmora\\Readme.txt"), ".txt");
  EXPECT_EQ(ExtractFilePath("c:x.zip"), "c:");
  EXPECT_EQ(ExtractFileName("c:x.zip"), "x.zip");
  EXPECT_EQ(ExtractFilePath("dir/sub/a.b.c"), "dir/sub/");
  EXPECT_EQ(ExtractFileExt("dir/sub/a.b.c"), ".c");
  EXPECT_EQ(ExtractFileExt("c:\\dir.d\\name"), "");
  EXPECT_EQ(ExtractFilePath("name"), "");
  EXPECT_EQ(ExtractFileName("name"), "name");
  EXPECT_EQ(ExtractFileName("c:\\dir\\"), "");
}

TEST(FileNameParts, TrailingDelimiterIsAddedOnce) {
  EXPECT_EQ(IncludeTrailingPathDelimiter("c:\\Program Files\\Velmora"), "c:\\Program Files\\Velmora\\");
  EXPECT_EQ(IncludeTrailingPathDelimiter("c:\\Program Files\\Velmora\\"), "c:\\Program Files\\Velmora\\");
  EXPECT_EQ(IncludeTrailingPathDelimiter(""), "\\");
}

TEST(FileNameParts, ExpandFileNameMakesAFullPathByText) {
  EXPECT_EQ(ExpandFileName("c:\\Program Files\\Velmora\\..\\x.exe"), "c:\\Program Files\\x.exe");
  EXPECT_EQ(ExpandFileName("C:/a/./b/"), "C:\\a\\b\\");
  EXPECT_EQ(ExpandFileName("\\\\srv\\share\\d\\..\\f.txt"), "\\\\srv\\share\\f.txt");
  EXPECT_EQ(ExpandFileName(""), "");
}

}  // namespace
}  // namespace velmora
