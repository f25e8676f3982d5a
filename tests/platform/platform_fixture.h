// A fresh prefix per test: VELMORA_PREFIX points at a new temporary folder,
// which is removed afterwards, so no test sees another's drive_c or the
// user's ~/.velmora.
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

namespace velmora {

// Restores an environment variable when the test ends.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

class PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string base = std::filesystem::temp_directory_path().string() + "/velmora-platform-XXXXXX";
    ASSERT_NE(::mkdtemp(base.data()), nullptr);
    root_ = base;
    prefix_ = root_ + "/prefix";
    prefix_env_.emplace("VELMORA_PREFIX", prefix_);
    // Made on first use: the prefix and its drive links appear here.
    ASSERT_EQ(VelmoraPrefix(), prefix_);
  }

  void TearDown() override {
    prefix_env_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  // The host path of "c:\<rest>" (rest written with "/").
  std::string DriveC(const std::string& rest = "") const {
    return rest.empty() ? prefix_ + "/drive_c" : prefix_ + "/drive_c/" + rest;
  }
  // A scratch folder outside the prefix, reached through Z:.
  std::string Scratch(const std::string& rest = "") const {
    return rest.empty() ? root_ : root_ + "/" + rest;
  }
  static std::string Win(const std::string& host_path) { return WindowsPath(host_path); }

  static void WriteHostFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    ASSERT_TRUE(out.good()) << path;
  }
  static std::string ReadHostFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static bool HostExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
  }
  static mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
  }

  std::string root_;
  std::string prefix_;
  std::optional<ScopedEnv> prefix_env_;
};

}  // namespace velmora
