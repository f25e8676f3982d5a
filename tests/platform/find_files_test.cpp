#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "tests/platform/platform_fixture.h"

namespace velmora {
namespace {

class FindFilesTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    ASSERT_EQ(::mkdir(DriveC("Dir").c_str(), 0777), 0);
    WriteHostFile(DriveC("Dir/Readme.txt"), "read me");
    WriteHostFile(DriveC("Dir/SETUP.EXE"), "MZ");
    WriteHostFile(DriveC("Dir/data.bin"), std::string(1000, 'd'));
    WriteHostFile(DriveC("Dir/README"), "");
    WriteHostFile(DriveC("Dir/ü.txt"), "u");
    ASSERT_EQ(::mkdir(DriveC("Dir/sub").c_str(), 0777), 0);
  }

  // Every name the search hands out, in order.
  static std::vector<std::string> Find(const std::string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
      names.push_back(data.cFileName);
    } while (FindNextFileA(find, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(find));
    return names;
  }
  using Names = std::vector<std::string>;
};

TEST_F(FindFilesTest, WildcardsMatchWithoutRegardToCase) {
  EXPECT_EQ(Find("c:\\dir\\*.TXT"), (Names{"Readme.txt", "ü.txt"}));
  EXPECT_EQ(Find("C:\\DIR\\s*"), (Names{"SETUP.EXE", "sub"}));
  EXPECT_EQ(Find("c:\\Dir\\*e*.?x?"), (Names{"Readme.txt", "SETUP.EXE"}));
}

TEST_F(FindFilesTest, StarDotStarMatchesNamesWithoutADot) {
  EXPECT_EQ(Find("c:\\Dir\\*.*"),
            (Names{".", "..", "data.bin", "README", "Readme.txt", "SETUP.EXE", "sub", "ü.txt"}));
  EXPECT_EQ(Find("c:\\Dir\\*"), Find("c:\\Dir\\*.*"));
}

TEST_F(FindFilesTest, QuestionMarkIsOneCharacterEvenBeyondAscii) {
  EXPECT_EQ(Find("c:\\Dir\\?.txt"), (Names{"ü.txt"}));
  EXPECT_EQ(Find("c:\\Dir\\Ü.TXT"), (Names{"ü.txt"}));
  EXPECT_EQ(Find("c:\\Dir\\data.bi?"), (Names{"data.bin"}));
  EXPECT_EQ(Find("c:\\Dir\\data.bin?"), Names{});
}

TEST_F(FindFilesTest, ANameWithoutWildcardsFindsThatEntryOnly) {
  EXPECT_EQ(Find("c:\\dir\\readme"), (Names{"README"}));
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA("c:\\dir\\DATA.BIN", &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.cFileName, "data.bin");
  EXPECT_EQ(data.nFileSizeLow, 1000u);
  EXPECT_EQ(data.nFileSizeHigh, 0u);
  EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_NE(data.ftLastWriteTime.dwHighDateTime, 0u);
  EXPECT_TRUE(FindClose(find));
  find = FindFirstFileA("c:\\dir", &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.cFileName, "Dir");
  EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(FindClose(find));
}

// Host folders (Z:) hold Linux names: one name is that file itself, even
// beside another that differs only in case; a name that is not there is
// still looked for without regard to case.
TEST_F(FindFilesTest, ANameInAHostFolderIsThatExactFile) {
  ASSERT_EQ(::mkdir(Scratch("host").c_str(), 0777), 0);
  WriteHostFile(Scratch("host/Data.zip"), "upper");
  WriteHostFile(Scratch("host/data.zip"), "lower!");
  const std::string folder = Win(Scratch("host"));
  EXPECT_EQ(Find(folder + "\\data.zip"), (Names{"data.zip"}));
  EXPECT_EQ(Find(folder + "\\Data.zip"), (Names{"Data.zip"}));
  EXPECT_EQ(Find(folder + "\\DATA.ZIP"), (Names{"Data.zip", "data.zip"}));
}

TEST_F(FindFilesTest, TheDriveRootListsNoDotEntries) {
  EXPECT_EQ(Find("c:\\*"), (Names{"Dir"}));
}

TEST_F(FindFilesTest, NothingFoundAndNoFolderAreToldApart) {
  WIN32_FIND_DATAA data;
  EXPECT_EQ(FindFirstFileA("c:\\Dir\\*.doc", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(FindFirstFileA("c:\\None\\*.*", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(FindFirstFileA("c:\\Dir\\", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(FindFirstFileA("\\\\server\\share\\*", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(FindFilesTest, ASearchHandleIsClosedOnce) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA("c:\\Dir\\*", &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(FindClose(find));
  EXPECT_FALSE(FindClose(find));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(FindNextFileA(find, &data));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(FindFilesTest, RelativePatternsSearchTheCurrentFolder) {
  char saved[PATH_MAX];
  ASSERT_NE(::getcwd(saved, sizeof saved), nullptr);
  ASSERT_EQ(::chdir(DriveC("Dir").c_str()), 0);
  EXPECT_EQ(Find("*.exe"), (Names{"SETUP.EXE"}));
  EXPECT_EQ(Find("sub\\..\\*.bin"), (Names{"data.bin"}));
  ASSERT_EQ(::chdir(saved), 0);
}

}  // namespace
}  // namespace velmora
