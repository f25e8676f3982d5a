// The scratch world the other tests stand on: it must leave nothing behind
// and put the environment back, or one test's files and variables leak
// into the next.
#include "tests/support/scratch_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;

TEST(ScratchFolder, GoesWithEverythingInItEvenFoldersWithoutWritePermission) {
  std::string path;
  {
    ScratchFolder folder("scratch-test");
    path = folder.path();
    ASSERT_TRUE(WriteFileText(folder.Host("locked/deeper/file.txt"), "x"));
    ASSERT_EQ(::chmod(folder.Host("locked/deeper").c_str(), 0500), 0);
    ASSERT_EQ(::chmod(folder.Host("locked").c_str(), 0500), 0);
    ASSERT_EQ(ReadFileText(folder.Host("locked/deeper/file.txt")), "x");
  }
  EXPECT_FALSE(fs::exists(path));
}

TEST(ScratchFolder, IsMadeInTheSystemTemporaryFolderWhateverTmpdirATestSet) {
  EnvGuard odd("TMPDIR", "/nonexistent/velmora");
  ScratchFolder folder;
  EXPECT_TRUE(fs::is_directory(folder.path()));
}

TEST(EnvGuard, PutsBackAValueAndAnAbsence) {
  EnvGuard base("VELMORA_TEST_GUARD", "before");
  {
    EnvGuard changed("VELMORA_TEST_GUARD", std::nullopt);
    EXPECT_EQ(std::getenv("VELMORA_TEST_GUARD"), nullptr);
    EnvGuard added("VELMORA_TEST_GUARD_NEW", "new");
    EXPECT_STREQ(std::getenv("VELMORA_TEST_GUARD_NEW"), "new");
  }
  EXPECT_STREQ(std::getenv("VELMORA_TEST_GUARD"), "before");
  EXPECT_EQ(std::getenv("VELMORA_TEST_GUARD_NEW"), nullptr);
}

TEST(ScratchPrefix, PointsThePrefixAndTmpdirIntoItsFolderForItsLifetime) {
  const char* before = std::getenv("VELMORA_PREFIX");
  const std::string old_prefix = before ? before : "";
  {
    ScratchPrefix world("prefix-test");
    EXPECT_EQ(std::getenv("VELMORA_PREFIX"), world.root() + "/prefix");
    EXPECT_EQ(std::getenv("TMPDIR"), world.root() + "/tmp");
    EXPECT_TRUE(fs::is_directory(world.temp()));
  }
  const char* after = std::getenv("VELMORA_PREFIX");
  EXPECT_EQ(after ? after : "", old_prefix);
}

}  // namespace
}  // namespace velmora::testing
