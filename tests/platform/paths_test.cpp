#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <iterator>
#include <random>
#include <string>

#include "platform/paths.h"
#include "platform/sysutils.h"
#include "platform/win32.h"
#include "tests/platform/platform_fixture.h"

namespace velmora {
namespace {

using PathsTest = PlatformTest;

std::string LinkTarget(const std::string& link) {
  char buffer[PATH_MAX];
  ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer);
  return n < 0 ? std::string() : std::string(buffer, static_cast<size_t>(n));
}

TEST_F(PathsTest, PrefixIsMadeOnFirstUseWithWineDriveLinks) {
  EXPECT_EQ(LinkTarget(prefix_ + "/dosdevices/c:"), "../drive_c");
  EXPECT_EQ(LinkTarget(prefix_ + "/dosdevices/z:"), "/");
  struct stat st {};
  ASSERT_EQ(::stat(DriveC().c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(PathsTest, PrefixFollowsTheVariableWhenItChanges) {
  std::string other = Scratch("other-prefix");
  {
    ScopedEnv env("VELMORA_PREFIX", other);
    EXPECT_EQ(VelmoraPrefix(), other);
    EXPECT_EQ(HostPath("c:\\x").value_or(""), other + "/drive_c/x");
    EXPECT_EQ(LinkTarget(other + "/dosdevices/c:"), "../drive_c");
  }
  EXPECT_EQ(VelmoraPrefix(), prefix_);
}

TEST_F(PathsTest, PrefixRemovedUnderUsIsMadeAgain) {
  std::filesystem::remove_all(prefix_);
  EXPECT_EQ(VelmoraPrefix(), prefix_);
  EXPECT_EQ(LinkTarget(prefix_ + "/dosdevices/c:"), "../drive_c");
}

TEST_F(PathsTest, DefaultPrefixIsDotVelmoraInHome) {
  ScopedEnv no_prefix("VELMORA_PREFIX", std::nullopt);
  ScopedEnv home("HOME", Scratch("home"));
  ASSERT_EQ(::mkdir(Scratch("home").c_str(), 0700), 0);
  EXPECT_EQ(VelmoraPrefix(), Scratch("home/.velmora"));
  EXPECT_EQ(LinkTarget(Scratch("home/.velmora/dosdevices/c:")), "../drive_c");
}

TEST_F(PathsTest, DriveCMapsIntoDriveC) {
  EXPECT_EQ(HostPath("c:\\Program Files\\Velmora").value_or(""), DriveC("Program Files/Velmora"));
  EXPECT_EQ(HostPath("C:\\").value_or(""), DriveC());
  // "c:" alone is the current folder on C:, its root while we stand on Z:.
  EXPECT_EQ(HostPath("c:").value_or(""), DriveC());
}

TEST_F(PathsTest, DriveZMapsOntoTheHostRoot) {
  EXPECT_EQ(HostPath("Z:\\").value_or(""), "/");
  EXPECT_EQ(HostPath("z:\\etc\\hostname").value_or(""), "/etc/hostname");
  EXPECT_EQ(HostPath(Win(Scratch("a b"))).value_or(""), Scratch("a b"));
}

TEST_F(PathsTest, ExistingComponentsAreFoundWithoutRegardToCase) {
  ASSERT_EQ(::mkdir(DriveC("Program Files").c_str(), 0777), 0);
  ASSERT_EQ(::mkdir(DriveC("Program Files/Velmora").c_str(), 0777), 0);
  // Existing levels take the case on disk; the new one keeps its own.
  EXPECT_EQ(HostPath("C:\\PROGRAM FILES\\velmora\\NewFolder").value_or(""),
            DriveC("Program Files/Velmora/NewFolder"));
  EXPECT_EQ(HostPath("c:\\program files\\VELMORA").value_or(""), DriveC("Program Files/Velmora"));
}

TEST_F(PathsTest, AnExactEntryWinsOverACaseBlindOne) {
  ASSERT_EQ(::mkdir(DriveC("Data").c_str(), 0777), 0);
  ASSERT_EQ(::mkdir(DriveC("DATA").c_str(), 0777), 0);
  EXPECT_EQ(HostPath("c:\\DATA").value_or(""), DriveC("DATA"));
  EXPECT_EQ(HostPath("c:\\Data").value_or(""), DriveC("Data"));
  // Neither exact: the first in byte order, every time.
  EXPECT_EQ(HostPath("c:\\data").value_or(""), DriveC("DATA"));
}

TEST_F(PathsTest, CaseFoldingReachesBeyondAscii) {
  ASSERT_EQ(::mkdir(DriveC("Ärger Ωmega Привет").c_str(), 0777), 0);
  EXPECT_EQ(HostPath("c:\\äRGER ωMEGA пРИВЕТ").value_or(""), DriveC("Ärger Ωmega Привет"));
}

TEST_F(PathsTest, TrailingBackslashesAndForwardSlashesAreAccepted) {
  EXPECT_EQ(HostPath("c:\\Program Files\\Velmora\\").value_or(""), DriveC("Program Files/Velmora"));
  EXPECT_EQ(HostPath("c:\\a\\\\b\\\\\\").value_or(""), DriveC("a/b"));
  EXPECT_EQ(HostPath("c:/a/b/").value_or(""), DriveC("a/b"));
}

TEST_F(PathsTest, DotsAreResolvedByTextAndStayInsideTheDrive) {
  EXPECT_EQ(HostPath("c:\\a\\.\\b\\..\\c").value_or(""), DriveC("a/c"));
  EXPECT_EQ(HostPath("c:\\..\\..\\etc").value_or(""), DriveC("etc"));
}

TEST_F(PathsTest, UncPathsAreNotReachable) {
  SetLastError(0);
  EXPECT_FALSE(HostPath("\\\\server\\share\\file.txt"));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(HostPath("//server/share"));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(GetFileAttributesA("\\\\server\\share\\file.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(CreateDirectoryA("\\\\server\\share\\dir", nullptr));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(PathsTest, ADriveWithoutALinkIsNotReachable) {
  SetLastError(0);
  EXPECT_FALSE(HostPath("q:\\file"));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(PathsTest, ALinkAUserAddsMakesADrive) {
  ASSERT_EQ(::mkdir(Scratch("media").c_str(), 0777), 0);
  ASSERT_EQ(::symlink(Scratch("media").c_str(), (prefix_ + "/dosdevices/d:").c_str()), 0);
  EXPECT_EQ(HostPath("D:\\x.zip").value_or(""), Scratch("media/x.zip"));
}

TEST_F(PathsTest, RelativePathsStartAtTheCurrentFolder) {
  char saved[PATH_MAX];
  ASSERT_NE(::getcwd(saved, sizeof saved), nullptr);
  ASSERT_EQ(::chdir(root_.c_str()), 0);
  EXPECT_EQ(HostPath("sub\\file.txt").value_or(""), Scratch("sub/file.txt"));
  EXPECT_EQ(HostPath("..\\x").value_or(""), std::filesystem::path(root_).parent_path().string() + "/x");
  EXPECT_EQ(HostPath("\\etc").value_or(""), "/etc");  // the current drive's root
  EXPECT_EQ(ExpandFileName("a\\..\\b\\"), Win(root_) + "\\b\\");
  ASSERT_EQ(::chdir(saved), 0);
}

TEST_F(PathsTest, OverLongPathsFailCleanly) {
  std::string longest = "c:\\" + std::string(256, 'a');  // 259 characters: allowed
  ASSERT_EQ(longest.size(), 259u);
  EXPECT_TRUE(HostPath(longest));
  SetLastError(0);
  EXPECT_FALSE(HostPath(longest + "b"));
  EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
  // Far beyond any buffer of the original: still a clean failure.
  std::string huge = "c:\\" + std::string(100000, 'x');
  EXPECT_FALSE(HostPath(huge));
  EXPECT_EQ(GetFileAttributesA(huge.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
  EXPECT_FALSE(CreateDirectoryA(huge.c_str(), nullptr));
  WIN32_FIND_DATAA data;
  EXPECT_EQ(FindFirstFileA((huge + "\\*").c_str(), &data), INVALID_HANDLE_VALUE);
  char buffer[MAX_PATH];
  EXPECT_EQ(GetFullPathNameA(huge.c_str(), MAX_PATH, buffer, nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
  // A long path that ".." brings back under the limit is fine.
  EXPECT_EQ(HostPath("c:\\" + std::string(300, 'y') + "\\..\\z").value_or(""), DriveC("z"));
}

TEST_F(PathsTest, WindowsPathIsTheHostPathOnZ) {
  EXPECT_EQ(WindowsPath("/tmp/a.zip"), "Z:\\tmp\\a.zip");
  EXPECT_EQ(WindowsPath("/"), "Z:\\");
  EXPECT_EQ(HostPath(WindowsPath(Scratch("x/y"))).value_or(""), Scratch("x/y"));
}

TEST_F(PathsTest, ProgramFileNameIsThisProgramOnZ) {
  std::string name = ProgramFileName();
  ASSERT_GE(name.size(), 3u);
  EXPECT_EQ(name.substr(0, 3), "Z:\\");
  EXPECT_EQ(ExtractFileName(name), "platform_tests");
  EXPECT_NE(GetFileAttributesA(name.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(PathsTest, GetFullPathNameReportsTheSizeItNeeds) {
  const char* name = "c:\\Program Files\\.\\Velmora\\..\\Readme.txt";
  char small[8] = "unused";
  DWORD needed = GetFullPathNameA(name, sizeof small, small, nullptr);
  EXPECT_EQ(needed, std::string("c:\\Program Files\\Readme.txt").size() + 1);
  EXPECT_STREQ(small, "unused");
  char buffer[MAX_PATH];
  char* file_part = nullptr;
  EXPECT_EQ(GetFullPathNameA(name, MAX_PATH, buffer, &file_part), needed - 1);
  EXPECT_STREQ(buffer, "c:\\Program Files\\Readme.txt");
  EXPECT_STREQ(file_part, "Readme.txt");
  EXPECT_EQ(GetFullPathNameA("c:\\dir\\", MAX_PATH, buffer, &file_part), 7u);
  EXPECT_STREQ(buffer, "c:\\dir\\");
  EXPECT_EQ(file_part, nullptr);
  EXPECT_EQ(GetFullPathNameA("c:\\..\\..", MAX_PATH, buffer, nullptr), 3u);
  EXPECT_STREQ(buffer, "c:\\");
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

// Whatever a name holds — dots, separators of both kinds, colons, wildcards,
// letters beyond ASCII — a path on C: maps inside drive_c or fails.
TEST_F(PathsTest, RandomPathsNeverLeaveTheirDrive) {
  const std::string pieces[] = {"a", "B", "..", ".", "\\", "/", ":", "*", "?", " ", "é", "...",
                                "\\\\", "c:", "Z:", "x.txt", std::string(40, 'n')};
  std::mt19937 random(20261208);
  std::uniform_int_distribution<size_t> pick(0, std::size(pieces) - 1);
  std::uniform_int_distribution<int> count(0, 30);
  for (int round = 0; round < 3000; ++round) {
    std::string path = "c:\\";
    for (int i = count(random); i > 0; --i) path += pieces[pick(random)];
    std::optional<std::string> host = HostPath(path);
    if (!host) {
      EXPECT_TRUE(GetLastError() == ERROR_FILENAME_EXCED_RANGE ||
                  GetLastError() == ERROR_PATH_NOT_FOUND)
          << path;
      continue;
    }
    EXPECT_EQ(host->rfind(DriveC(), 0), 0u) << path << " -> " << *host;
    EXPECT_EQ(host->find("/../"), std::string::npos) << path;
    EXPECT_EQ(host->find("/./"), std::string::npos) << path;
  }
}

}  // namespace
}  // namespace velmora
