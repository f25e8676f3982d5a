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
#include <string>
#include <vector>

namespace velmora::tools_test {

struct ProcessResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};

inline std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class VunzipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string base = std::filesystem::temp_directory_path().string() + "/vunzip-test-XXXXXX";
    ASSERT_NE(::mkdtemp(base.data()), nullptr);
    root_ = base;
    std::filesystem::create_directories(root_ / "tmp");
    std::filesystem::create_directories(root_ / "work");
    ASSERT_TRUE(std::filesystem::exists(Vunzip())) << "build the vunzip target first";
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::permissions(root_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(root_, ignored);
  }

  static std::string Vunzip() { return VELMORA_BINARY_DIR "/bin/vunzip"; }
  std::filesystem::path Work() const { return root_ / "work"; }

  // Runs a shell command line in the work folder with the test's prefix;
  // stdin is /dev/null, so no terminal question can be asked.
  ProcessResult Shell(const std::string& command) const {
    const std::string out = (root_ / "stdout").string(), err = (root_ / "stderr").string();
    const std::string line = "cd " + Quote(Work().string()) + " && VELMORA_PREFIX=" +
                             Quote((root_ / "prefix").string()) + " TMPDIR=" +
                             Quote((root_ / "tmp").string()) + " setsid sh -c " + Quote(command) +
                             " </dev/null >" + Quote(out) + " 2>" + Quote(err);
    const int status = std::system(line.c_str());
    ProcessResult result;
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    return result;
  }
  ProcessResult Run(const std::vector<std::string>& args) const {
    std::string command = Quote(Vunzip());
    for (const auto& arg : args) command += " " + Quote(arg);
    return Shell(command);
  }
  // Runs a maker command (zip, 7zz, python3) in the work folder; false when
  // the tool is missing or failed.
  bool Make(const std::string& command) const {
    return std::system(("cd " + Quote(Work().string()) + " && { " + command +
                        "; } >/dev/null 2>&1").c_str()) == 0;
  }
  void Write(const std::string& relative, const std::string& content) const {
    std::filesystem::create_directories((Work() / relative).parent_path());
    std::ofstream(Work() / relative, std::ios::binary) << content;
  }
  std::string Read(const std::string& relative) const { return ReadFile(Work() / relative); }
  bool TempFolderEmpty() const { return std::filesystem::is_empty(root_ / "tmp"); }

  std::filesystem::path root_;
};

#define VUNZIP_NEED_TOOL(tool)                                                    \
  do {                                                                            \
    if (std::system("command -v " tool " >/dev/null 2>&1") != 0)                  \
      GTEST_SKIP() << tool " is not installed";                                   \
  } while (0)

}  // namespace velmora::tools_test
