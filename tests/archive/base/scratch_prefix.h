// A fresh world per test: VELMORA_PREFIX and TMPDIR point into a new host
// folder that is removed afterwards, so no test sees another's drive_c,
// temporary files or the user's ~/.velmora.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/paths.h"

namespace velmora {

class ScratchPrefixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string base = std::filesystem::temp_directory_path().string() + "/velmora-base-XXXXXX";
    ASSERT_NE(::mkdtemp(base.data()), nullptr);
    root_ = base;
    std::filesystem::create_directories(root_ + "/tmp");
    Remember("VELMORA_PREFIX", root_ + "/prefix");
    Remember("TMPDIR", root_ + "/tmp");
    ASSERT_EQ(VelmoraPrefix(), root_ + "/prefix");
  }

  void TearDown() override {
    for (auto& [name, old] : saved_) {
      if (old) {
        ::setenv(name.c_str(), old->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
    std::error_code ignored;
    std::filesystem::permissions(root_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(root_, ignored);
  }

  // A host folder of the scratch area and its Windows (Z:) name.
  std::string Host(const std::string& relative) const { return root_ + "/" + relative; }
  std::string Win(const std::string& relative) const { return WindowsPath(Host(relative)); }
  std::string DriveC(const std::string& relative) const {
    return root_ + "/prefix/drive_c/" + relative;
  }

  void WriteHostFile(const std::string& relative, const std::string& bytes) const {
    std::filesystem::create_directories(std::filesystem::path(Host(relative)).parent_path());
    std::ofstream(Host(relative), std::ios::binary) << bytes;
  }
  std::string ReadHostFile(const std::string& relative) const {
    std::ifstream in(Host(relative), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  std::string root_;

 private:
  void Remember(const std::string& name, const std::string& value) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name.c_str(), value.c_str(), 1);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace velmora
