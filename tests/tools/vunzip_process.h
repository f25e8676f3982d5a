// Runs the built vunzip as a process in a scratch folder of its own, with
// VELMORA_PREFIX and TMPDIR pointing into it, and keeps its exit code and
// output.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/process_runner.h"
#include "tests/support/scratch_folder.h"

namespace velmora::tools_test {

using testing::ProcessResult;
using testing::Quote;

inline std::string ReadFile(const std::filesystem::path& path) {
  return testing::ReadFileText(path.string());
}

class VunzipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_.emplace("vunzip-test");
    root_ = scratch_->path();
    std::filesystem::create_directories(root_ / "tmp");
    std::filesystem::create_directories(root_ / "work");
    ASSERT_TRUE(std::filesystem::exists(Vunzip())) << "build the vunzip target first";
  }
  void TearDown() override { scratch_.reset(); }

  static std::string Vunzip() { return VELMORA_BINARY_DIR "/bin/vunzip"; }
  std::filesystem::path Work() const { return root_ / "work"; }

  // Runs a shell command line in the work folder with the test's prefix;
  // stdin is /dev/null, so no terminal question can be asked. The test's
  // own environment is left as it is.
  ProcessResult Shell(const std::string& command) const {
    return testing::RunShell(command, {.folder = Work().string(),
                                       .env = {{"VELMORA_PREFIX", (root_ / "prefix").string()},
                                               {"TMPDIR", (root_ / "tmp").string()}}});
  }
  ProcessResult Run(const std::vector<std::string>& args) const {
    std::string command = Quote(Vunzip());
    for (const auto& arg : args) command += " " + Quote(arg);
    return Shell(command);
  }
  // Runs a maker command (zip, 7zz, python3) in the work folder; false when
  // the tool is missing or failed.
  bool Make(const std::string& command) const {
    return testing::RunQuietly(command, Work().string());
  }
  void Write(const std::string& relative, const std::string& content) const {
    testing::WriteFileText((Work() / relative).string(), content);
  }
  std::string Read(const std::string& relative) const { return ReadFile(Work() / relative); }
  bool TempFolderEmpty() const { return std::filesystem::is_empty(root_ / "tmp"); }

  std::filesystem::path root_;

 private:
  std::optional<testing::ScratchFolder> scratch_;
};

#define VUNZIP_NEED_TOOL(tool) VELMORA_SKIP_WITHOUT(tool)

}  // namespace velmora::tools_test
