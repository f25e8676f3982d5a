// The command line of vunzip, shaped after Info-ZIP unzip so its users feel
// at home: vunzip [-l|-v|-t|-p] [-d DIR] [-j] [-o|-n] [-P PASSWORD] [-q]
// ARCHIVE [NAME-MASK ...] [-x EXCLUDE-MASK ...].
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velmora::vunzip {

enum class Mode { kExtract, kList, kVerboseList, kTest, kPipe, kHelp, kVersion };

enum class Overwrite { kAsk, kAlways, kNever };

struct Options {
  Mode mode = Mode::kExtract;
  std::string target_dir;  // host path; empty means the current folder
  bool junk_paths = false;
  Overwrite overwrite = Overwrite::kAsk;
  std::optional<std::string> password;
  int quiet = 0;  // -q once: no per-item lines; -qq: nothing but errors
  std::string archive;
  std::vector<std::string> include;
  std::vector<std::string> exclude;
};

struct ParseResult {
  Options options;
  std::string error;  // empty when the line was good
};

ParseResult ParseCommandLine(const std::vector<std::string>& args);

// The text of --help.
std::string HelpText();

}  // namespace velmora::vunzip
