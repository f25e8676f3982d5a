// A fresh prefix per test: VELMORA_PREFIX and TMPDIR point into a new host
// folder, removed afterwards, where tests write the archives they open by
// name (seen through drive Z:).
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/paths.h"
#include "tests/support/zip_writer.h"

namespace velmora {

class ZipScratchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string base = std::filesystem::temp_directory_path().string() + "/velmora-zip-XXXXXX";
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
    std::filesystem::remove_all(root_, ignored);
  }

  std::string Host(const std::string& relative) const { return root_ + "/" + relative; }
  // Writes the bytes to the scratch folder; returns the file's Windows name.
  std::string Put(const std::string& relative, const std::vector<uint8_t>& bytes) const {
    testing::WriteHostFile(Host(relative), bytes);
    return WindowsPath(Host(relative));
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
