#include "archive/base/directories.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "rtl/exceptions.h"
#include "scratch_prefix.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

using IsDirectoryTest = ScratchPrefixTest;
using ForceDirectoryTreeTest = ScratchPrefixTest;

TEST_F(IsDirectoryTest, TellsFoldersFromFilesAndAbsence) {
  fs::create_directories(Host("folder"));
  WriteHostFile("file.txt", "x");
  EXPECT_TRUE(IsDirectory(Win("folder")));
  EXPECT_TRUE(IsDirectory("c:\\"));
  EXPECT_FALSE(IsDirectory(Win("file.txt")));
  EXPECT_FALSE(IsDirectory(Win("missing")));
  EXPECT_FALSE(IsDirectory(""));
}

TEST_F(IsDirectoryTest, IsFalseForMasksEvenWhenTheDriveExists) {
  EXPECT_TRUE(IsDirectory("C:\\"));
  EXPECT_FALSE(IsDirectory("C:\\*"));
  EXPECT_FALSE(IsDirectory("C:\\?"));
}

TEST_F(IsDirectoryTest, IsFalseBeyondTheWindowsPathLimit) {
  std::string deep = "c:\\" + std::string(250, 'd');
  fs::create_directories(DriveC(std::string(250, 'd')) + "/" + std::string(10, 'e'));
  EXPECT_TRUE(IsDirectory(deep));
  EXPECT_FALSE(IsDirectory(deep + "\\" + std::string(10, 'e')));  // 264 characters
}

TEST_F(ForceDirectoryTreeTest, MakesEveryMissingLevelOnMappedDriveC) {
  ForceDirectoryTree("c:\\x\\y\\z");
  EXPECT_TRUE(fs::is_directory(DriveC("x/y/z")));
  ForceDirectoryTree("C:\\X\\Y\\Z\\w");  // existing levels are found case-blind
  EXPECT_TRUE(fs::is_directory(DriveC("x/y/z/w")));
}

TEST_F(ForceDirectoryTreeTest, LeavesAnExistingTreeAlone) {
  fs::create_directories(DriveC("a/b"));
  EXPECT_NO_THROW(ForceDirectoryTree("c:\\a\\b"));
  EXPECT_NO_THROW(ForceDirectoryTree("c:\\a\\b\\"));  // a trailing backslash is harmless
  EXPECT_TRUE(fs::is_directory(DriveC("a/b")));
}

TEST_F(ForceDirectoryTreeTest, RaisesInOutErrorAndKeepsWhatItMade) {
  fs::create_directories(DriveC("p"));
  std::ofstream(DriveC("p/file")) << "in the way";
  try {
    ForceDirectoryTree("c:\\p\\q\\r");
    ForceDirectoryTree("c:\\p\\file\\s");
    FAIL() << "a file in the way must stop the tree";
  } catch (const EInOutError& e) {
    EXPECT_NE(e.ErrorCode, 0);
    EXPECT_EQ(e.Message(), EInOutError::MessageFor(e.ErrorCode));
  }
  EXPECT_TRUE(fs::is_directory(DriveC("p/q/r")));
  EXPECT_TRUE(fs::is_regular_file(DriveC("p/file")));
}

TEST_F(ForceDirectoryTreeTest, UncPathsCannotBeReachedHere) {
  try {
    ForceDirectoryTree("\\\\srv\\share\\d\\e");
    FAIL() << "UNC paths are unreachable on Linux";
  } catch (const EInOutError& e) {
    EXPECT_NE(e.ErrorCode, 0);
  }
}

TEST_F(ForceDirectoryTreeTest, RefusesOverlongPathsBeforeMakingAnything) {
  const std::string long_path = "c:\\first\\" + std::string(255, 'n');
  try {
    ForceDirectoryTree(long_path);
    FAIL() << "a path over 259 characters must fail";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode, 206);
    EXPECT_EQ(e.Message(), "I/O error 206");
  }
  EXPECT_FALSE(fs::exists(DriveC("first")));
}

}  // namespace
}  // namespace velmora
