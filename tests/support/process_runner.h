// Running other programs from a test: the one under test (vunzip, the
// installer) and the peers that make or check archives (zip, 7-Zip, unzip,
// Python, Wine). A command line goes to sh in a folder of the test's
// choosing, with extra environment, no terminal and nothing on standard
// input, so no program can stop to ask; its exit code and both outputs
// come back. No test framework here but the skip macro, which expands only
// where a test uses it.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace velmora::testing {

// text as one sh word, in single quotes.
std::string Quote(const std::string& text);

struct ProcessResult {
  int exit_code = -1;  // -1 when the program did not exit by itself (a signal)
  std::string out;
  std::string err;
};

struct ShellOptions {
  std::string folder;                                      // the working folder; empty: ours
  std::vector<std::pair<std::string, std::string>> env;    // set on top of ours
};

// Runs command with sh -c in a session of its own (no controlling
// terminal), standard input /dev/null, and captures both outputs.
ProcessResult RunShell(const std::string& command, const ShellOptions& options = {});

// True when the command succeeds, its output thrown away: for the peers
// that make a test's input, where only success matters.
bool RunQuietly(const std::string& command, const std::string& folder = "");

// Whether sh finds the program on PATH.
bool ProgramInstalled(const std::string& name);

}  // namespace velmora::testing

// Skips the current test, naming the program, when it is not installed.
#define VELMORA_SKIP_WITHOUT(program)                            \
  do {                                                           \
    if (!::velmora::testing::ProgramInstalled(program)) {        \
      GTEST_SKIP() << (program) << " is not installed";          \
    }                                                            \
  } while (0)
