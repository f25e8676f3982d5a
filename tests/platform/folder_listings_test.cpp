#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/paths.h"
#include "platform/win32.h"
#include "tests/platform/platform_fixture.h"

namespace velmora {
namespace {

// The case-blind lookup keeps folder listings between calls; these tests
// change folders behind its back and through the API, and check that every
// answer is still the folder's present state.
class FolderListingsTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    ASSERT_EQ(::mkdir(DriveC("d").c_str(), 0777), 0);
    WriteHostFile(DriveC("d/present.txt"), "p");
  }
};

TEST_F(FolderListingsTest, ANameMadeBehindItsBackRightAfterALookIsFound) {
  // The miss reads the folder; the file then appears within the same clock
  // tick, which leaves the folder's time as it was.
  EXPECT_EQ(HostPath("c:\\d\\README.TXT").value_or(""), DriveC("d/README.TXT"));
  WriteHostFile(DriveC("d/readme.txt"), "r");
  EXPECT_EQ(HostPath("c:\\d\\README.TXT").value_or(""), DriveC("d/readme.txt"));
  EXPECT_EQ(GetFileAttributesA("c:\\d\\Readme.Txt"), FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(FolderListingsTest, ANameRemovedOrRenamedBehindItsBackIsNotReported) {
  EXPECT_EQ(HostPath("c:\\d\\PRESENT.TXT").value_or(""), DriveC("d/present.txt"));
  ASSERT_EQ(std::rename(DriveC("d/present.txt").c_str(), DriveC("d/Present.Txt").c_str()), 0);
  EXPECT_EQ(HostPath("c:\\d\\PRESENT.TXT").value_or(""), DriveC("d/Present.Txt"));
  ASSERT_EQ(::unlink(DriveC("d/Present.Txt").c_str()), 0);
  EXPECT_EQ(HostPath("c:\\d\\PRESENT.TXT").value_or(""), DriveC("d/PRESENT.TXT"));
  EXPECT_EQ(GetFileAttributesA("c:\\d\\PRESENT.TXT"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FolderListingsTest, NamesThisProcessMakesAreFoundInAnyCase) {
  WriteHostFile(DriveC("source"), "s");
  EXPECT_EQ(GetFileAttributesA("c:\\d\\New.txt"), INVALID_FILE_ATTRIBUTES);
  ASSERT_TRUE(CopyFileA("c:\\source", "c:\\d\\New.txt", false));
  EXPECT_EQ(HostPath("c:\\d\\NEW.TXT").value_or(""), DriveC("d/New.txt"));
  ASSERT_TRUE(CreateDirectoryA("c:\\d\\Sub", nullptr));
  EXPECT_EQ(HostPath("c:\\D\\SUB\\x").value_or(""), DriveC("d/Sub/x"));
  HANDLE h = CreateFileA("c:\\d\\Made.bin", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_EQ(HostPath("c:\\d\\made.BIN").value_or(""), DriveC("d/Made.bin"));
  char name[MAX_PATH];
  ASSERT_NE(GetTempFileNameA("c:\\d", "VMS", 0, name), 0u);
  std::string lower = name;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(HostPath(lower).value_or(""), *HostPath(name));
}

TEST_F(FolderListingsTest, NamesThisProcessRemovesAreGone) {
  WriteHostFile(DriveC("d/b.txt"), "b");
  EXPECT_EQ(HostPath("c:\\d\\B.TXT").value_or(""), DriveC("d/b.txt"));
  ASSERT_TRUE(DeleteFileA("c:\\d\\B.TXT"));
  EXPECT_EQ(HostPath("c:\\d\\B.TXT").value_or(""), DriveC("d/B.TXT"));
  ASSERT_TRUE(MoveFileA("c:\\d\\PRESENT.txt", "c:\\d\\moved.txt"));
  EXPECT_EQ(HostPath("c:\\d\\MOVED.TXT").value_or(""), DriveC("d/moved.txt"));
  EXPECT_EQ(HostPath("c:\\d\\PRESENT.TXT").value_or(""), DriveC("d/PRESENT.TXT"));
}

TEST_F(FolderListingsTest, ASiblingInAnotherCaseAnswersWhenTheFirstGoes) {
  WriteHostFile(DriveC("d/README"), "upper");
  WriteHostFile(DriveC("d/Readme"), "mixed");
  EXPECT_EQ(HostPath("c:\\d\\readme").value_or(""), DriveC("d/README"));  // byte order
  ASSERT_TRUE(DeleteFileA("c:\\d\\README"));
  EXPECT_EQ(HostPath("c:\\d\\readme").value_or(""), DriveC("d/Readme"));
}

TEST_F(FolderListingsTest, AFolderReplacedByAnotherOfTheSameNameIsReadAgain) {
  WriteHostFile(DriveC("d/Old.txt"), "o");
  EXPECT_EQ(HostPath("c:\\d\\OLD.TXT").value_or(""), DriveC("d/Old.txt"));
  std::filesystem::remove_all(DriveC("d"));
  ASSERT_EQ(::mkdir(DriveC("d").c_str(), 0777), 0);
  WriteHostFile(DriveC("d/Other.txt"), "x");
  EXPECT_EQ(HostPath("c:\\d\\OLD.TXT").value_or(""), DriveC("d/OLD.TXT"));
  EXPECT_EQ(HostPath("c:\\d\\OTHER.TXT").value_or(""), DriveC("d/Other.txt"));
}

}  // namespace
}  // namespace velmora
