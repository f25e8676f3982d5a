#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "tests/platform/platform_fixture.h"

namespace velmora {
namespace {

// TMPDIR is Scratch("tmp"), as the fixture sets it; private, as a user's is.
class TempFilesTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    ASSERT_EQ(::chmod(Scratch("tmp").c_str(), 0700), 0);
  }
};

TEST_F(TempFilesTest, TempPathIsTmpdirAsAZPathWithItsBackslash) {
  char buffer[MAX_PATH];
  std::string expected = Win(Scratch("tmp")) + "\\";
  EXPECT_EQ(GetTempPathA(MAX_PATH, buffer), expected.size());
  EXPECT_EQ(std::string(buffer), expected);
  {
    ScopedEnv slash("TMPDIR", Scratch("tmp") + "/");
    GetTempPathA(MAX_PATH, buffer);
    EXPECT_EQ(std::string(buffer), expected);
  }
  {
    ScopedEnv none("TMPDIR", std::nullopt);
    GetTempPathA(MAX_PATH, buffer);
    EXPECT_STREQ(buffer, "Z:\\tmp\\");
  }
}

TEST_F(TempFilesTest, TempPathReportsTheSizeItNeeds) {
  std::string expected = Win(Scratch("tmp")) + "\\";
  char small[4] = "abc";
  EXPECT_EQ(GetTempPathA(sizeof small, small), expected.size() + 1);
  EXPECT_STREQ(small, "abc");
  EXPECT_EQ(GetTempPathA(0, nullptr), expected.size() + 1);
}

TEST_F(TempFilesTest, UniqueZeroCreatesAnEmptyPrivateFile) {
  char folder[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  std::vector<char> name(MAX_PATH);
  mode_t old_umask = ::umask(0);
  UINT unique = GetTempFileNameA(folder, "VMS", 0, name.data());
  ::umask(old_umask);
  ASSERT_NE(unique, 0u);
  std::string text = name.data();
  std::regex form(std::regex_replace(std::string(folder), std::regex(R"([\\.^$|()\[\]{}*+?])"),
                                     R"(\$&)") +
                  "VMS[0-9A-F]{1,4}\\.TMP");
  EXPECT_TRUE(std::regex_match(text, form)) << text;
  char hex[8];
  std::snprintf(hex, sizeof hex, "%X", unique);
  EXPECT_EQ(text, std::string(folder) + "VMS" + hex + ".TMP");

  std::optional<std::string> host = HostPath(text);
  ASSERT_TRUE(host);
  struct stat st {};
  ASSERT_EQ(::stat(host->c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_size, 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(TempFilesTest, EveryCallGetsAFileOfItsOwn) {
  std::set<std::string> names;
  for (int i = 0; i < 200; ++i) {
    char name[MAX_PATH];
    ASSERT_NE(GetTempFileNameA("c:\\", "VMS", 0, name), 0u);
    EXPECT_TRUE(names.insert(name).second) << name;
  }
  EXPECT_EQ(names.size(), 200u);
  for (const auto& name : names) EXPECT_TRUE(HostExists(*HostPath(name))) << name;
}

TEST_F(TempFilesTest, AFolderWithEveryShortNameTakenStillGetsAFile) {
  // Leftovers or another user's files must not block every extraction.
  if (::geteuid() != 0) GTEST_SKIP() << "the 65,535 names go on a tmpfs, which needs root";
  const std::string ram = Scratch("ram");
  ASSERT_EQ(::mkdir(ram.c_str(), 0700), 0);
  ASSERT_EQ(::mount("tmpfs", ram.c_str(), "tmpfs", 0, "size=1m,nr_inodes=70000"), 0);
  for (unsigned number = 1; number <= 0xFFFF; ++number) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%X", number);
    const std::string taken = ram + "/VMS" + digits + ".TMP";
    int fd = ::open(taken.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0) << taken;
    ::close(fd);
  }
  char name[MAX_PATH];
  const std::string folder = WindowsPath(ram) + "\\";
  EXPECT_NE(GetTempFileNameA(folder.c_str(), "VMS", 0, name), 0u);
  EXPECT_TRUE(std::regex_match(std::string(name), std::regex(R"(.*\\VMS[0-9A-F]{8}\.TMP)"))) << name;
  EXPECT_TRUE(HostExists(*HostPath(name)));
  ::umount2(ram.c_str(), MNT_DETACH);
}

TEST_F(TempFilesTest, OnlyThreeCharactersOfThePrefixCount) {
  char name[MAX_PATH];
  ASSERT_NE(GetTempFileNameA("c:", "VMSLONG", 0, name), 0u);
  EXPECT_TRUE(std::regex_match(std::string(name), std::regex(R"(c:\\VMS[0-9A-F]{1,4}\.TMP)")))
      << name;
}

TEST_F(TempFilesTest, AGivenNumberMakesTheNameOnly) {
  char name[MAX_PATH];
  EXPECT_EQ(GetTempFileNameA("c:\\", "VMS", 0x1A2B, name), 0x1A2Bu);
  EXPECT_STREQ(name, "c:\\VMS1A2B.TMP");
  EXPECT_FALSE(HostExists(DriveC("VMS1A2B.TMP")));
  EXPECT_EQ(GetTempFileNameA("c:\\", "VMS", 0x12345, name), 0x2345u);  // the low 16 bits
  EXPECT_STREQ(name, "c:\\VMS2345.TMP");
}

TEST_F(TempFilesTest, AMissingFolderFails) {
  char name[MAX_PATH];
  EXPECT_EQ(GetTempFileNameA("c:\\no such folder\\", "VMS", 0, name), 0u);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(TempFilesTest, ANameThatWouldNotFitFailsWithoutOverrun) {
  std::string folder = "c:\\" + std::string(250, 'f');
  ASSERT_EQ(::mkdir(DriveC(std::string(250, 'f')).c_str(), 0777), 0);
  std::vector<char> name(MAX_PATH, '#');  // on the heap, so ASan sees an overrun
  EXPECT_EQ(GetTempFileNameA(folder.c_str(), "VMS", 0, name.data()), 0u);
  EXPECT_EQ(GetLastError(), ERROR_BUFFER_OVERFLOW);
  EXPECT_EQ(GetTempFileNameA(folder.c_str(), "VMS", 0xFFFF, name.data()), 0u);
}

}  // namespace
}  // namespace velmora
