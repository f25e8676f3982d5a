// A fresh prefix per test: VELMORA_PREFIX and TMPDIR point into a new
// temporary folder, which is removed afterwards, so no test sees another's
// drive_c or the user's ~/.velmora.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "platform/paths.h"
#include "platform/win32.h"
#include "tests/support/scratch_fixture.h"

namespace velmora {

// Sets or unsets an environment variable until the end of the scope.
using ScopedEnv = testing::EnvGuard;

class PlatformTest : public testing::ScratchPrefixFixture {
 protected:
  // The host path of "c:\<rest>" (rest written with "/").
  std::string DriveC(const std::string& rest = "") const {
    return rest.empty() ? prefix_ + "/drive_c" : prefix_ + "/drive_c/" + rest;
  }
  // A scratch folder outside the prefix, reached through Z:.
  std::string Scratch(const std::string& rest = "") const { return Host(rest); }
  static std::string Win(const std::string& host_path) { return WindowsPath(host_path); }

  static void WriteHostFile(const std::string& path, const std::string& contents) {
    ASSERT_TRUE(testing::WriteFileText(path, contents)) << path;
  }
  static std::string ReadHostFile(const std::string& path) { return testing::ReadFileText(path); }
  static bool HostExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
  }
  static mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
  }
};

}  // namespace velmora
