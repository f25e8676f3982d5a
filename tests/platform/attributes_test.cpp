#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <string>

#include "platform/win32.h"
#include "tests/platform/platform_fixture.h"

namespace velmora {
namespace {

class AttributesTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    file_ = DriveC("file.txt");
    WriteHostFile(file_, "data");
    ASSERT_EQ(::chmod(file_.c_str(), 0644), 0);
  }
  // Whether this file system keeps user extended attributes at all.
  bool KeepsUserXattrs() const {
    return ::setxattr(file_.c_str(), "user.velmora-probe", "1", 1, 0) == 0;
  }
  std::string file_;
};

TEST_F(AttributesTest, PlainFileIsReportedForArchiving) {
  EXPECT_EQ(GetFileAttributesA("c:\\file.txt"), FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(GetFileAttributesA("C:\\FILE.TXT"), FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(AttributesTest, FoldersAreReportedAsDirectories) {
  EXPECT_EQ(GetFileAttributesA("c:\\"), FILE_ATTRIBUTE_DIRECTORY);
  ASSERT_EQ(::mkdir(DriveC("sub").c_str(), 0755), 0);
  EXPECT_EQ(GetFileAttributesA("c:\\SUB\\"), FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(AttributesTest, MissingFileAndMissingFolderAreToldApart) {
  EXPECT_EQ(GetFileAttributesA("c:\\nothing.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetFileAttributesA("c:\\no folder\\nothing.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(AttributesTest, ReadOnlyClearsTheWriteBitsAndClearingItGivesThemBack) {
  ASSERT_EQ(::chmod(file_.c_str(), 0664), 0);
  ASSERT_TRUE(SetFileAttributesA("c:\\file.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(ModeOf(file_), 0444u);
  EXPECT_EQ(GetFileAttributesA("c:\\file.txt"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  ASSERT_TRUE(SetFileAttributesA("c:\\file.txt", FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(ModeOf(file_), 0644u);
  EXPECT_EQ(GetFileAttributesA("c:\\file.txt"), FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(AttributesTest, ReadOnlyFilesAreNotDeleted) {
  ASSERT_TRUE(SetFileAttributesA("c:\\file.txt", FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(DeleteFileA("c:\\file.txt"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(HostExists(file_));
}

TEST_F(AttributesTest, HiddenAndSystemAreKeptInDosAttrib) {
  if (!KeepsUserXattrs()) GTEST_SKIP() << "no user extended attributes on " << root_;
  ASSERT_TRUE(SetFileAttributesA(
      "c:\\file.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE));
  char value[32] = {};
  ssize_t n = ::getxattr(file_.c_str(), "user.DOSATTRIB", value, sizeof value - 1);
  ASSERT_GT(n, 0);
  EXPECT_STREQ(value, "0x26");  // Wine's form
  EXPECT_EQ(GetFileAttributesA("c:\\file.txt"),
            FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
  ASSERT_TRUE(SetFileAttributesA("c:\\file.txt", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributesA("c:\\file.txt"), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(AttributesTest, HiddenOnAReadOnlyFileIsKeptToo) {
  if (!KeepsUserXattrs()) GTEST_SKIP() << "no user extended attributes on " << root_;
  ASSERT_TRUE(SetFileAttributesA("c:\\file.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(GetFileAttributesA("c:\\file.txt"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  ASSERT_TRUE(SetFileAttributesA("c:\\file.txt", FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(GetFileAttributesA("c:\\file.txt"), FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(AttributesTest, SambaBinaryDosAttribIsIgnored) {
  if (!KeepsUserXattrs()) GTEST_SKIP() << "no user extended attributes on " << root_;
  const unsigned char binary[] = {0x03, 0x00, 0x03, 0x00, 0x02, 0x00};
  ASSERT_EQ(::setxattr(file_.c_str(), "user.DOSATTRIB", binary, sizeof binary, 0), 0);
  EXPECT_EQ(GetFileAttributesA("c:\\file.txt"), FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(AttributesTest, ProgramsByNameGetExecuteBits) {
  WriteHostFile(DriveC("Setup.EXE"), "MZ");
  WriteHostFile(DriveC("run.com"), "MZ");
  WriteHostFile(DriveC("notes.txt"), "text");
  for (const char* name : {"Setup.EXE", "run.com", "notes.txt"}) {
    ASSERT_EQ(::chmod(DriveC(name).c_str(), 0640), 0);
    ASSERT_TRUE(SetFileAttributesA(("c:\\" + std::string(name)).c_str(), FILE_ATTRIBUTE_ARCHIVE));
  }
  EXPECT_EQ(ModeOf(DriveC("Setup.EXE")), 0750u);
  EXPECT_EQ(ModeOf(DriveC("run.com")), 0750u);
  EXPECT_EQ(ModeOf(DriveC("notes.txt")), 0640u);
}

TEST_F(AttributesTest, UnixModeInTheHighBitsGivesThePermissionBits) {
  ASSERT_TRUE(SetFileAttributesA("c:\\file.txt", (0100755u << 16) | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(ModeOf(file_), 0755u);
  ASSERT_TRUE(SetFileAttributesA("c:\\file.txt", (0100600u << 16) | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(ModeOf(file_), 0600u);
  // Info-ZIP marks a file without owner write bit read-only in the low bits.
  ASSERT_TRUE(SetFileAttributesA("c:\\file.txt", (0100444u << 16) | FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(ModeOf(file_), 0444u);
}

TEST_F(AttributesTest, PermissionBitsWithoutAFileTypeAreAUnixModeToo) {
  // Python's zipfile stores 0600 with no type bits: the file gets 0600,
  // as unzip gives it.
  ASSERT_TRUE(SetFileAttributesA("c:\\file.txt", 0600u << 16));
  EXPECT_EQ(ModeOf(file_), 0600u);
}

TEST_F(AttributesTest, UnixModeNeverSetsSetuidSetgidOrSticky) {
  ASSERT_TRUE(SetFileAttributesA("c:\\file.txt", (0107777u << 16) | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(ModeOf(file_), 0777u);
  ASSERT_TRUE(SetFileAttributesA("c:\\file.txt", (0104755u << 16) | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(ModeOf(file_), 0755u);
}

TEST_F(AttributesTest, ANonRegularModeInTheHighBitsIsIgnored) {
  // A symbolic link's mode, as an archive made on Unix stores it: the item
  // is a plain file here, and its bits stay.
  ASSERT_TRUE(SetFileAttributesA("c:\\file.txt", (0120777u << 16) | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(ModeOf(file_), 0644u);
  struct stat st {};
  ASSERT_EQ(::lstat(file_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST_F(AttributesTest, ReadOnlyIsIgnoredOnFolders) {
  ASSERT_EQ(::mkdir(DriveC("dir").c_str(), 0755), 0);
  ASSERT_TRUE(SetFileAttributesA("c:\\dir", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(ModeOf(DriveC("dir")), 0755u);
}

TEST_F(AttributesTest, SettingAttributesOfAMissingFileFails) {
  EXPECT_FALSE(SetFileAttributesA("c:\\missing.txt", FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

}  // namespace
}  // namespace velmora
