// The scratch world every test that touches files runs in: a fresh host
// folder removed with its contents, environment variables set for a test
// and restored after it, and the prefix world (VELMORA_PREFIX and TMPDIR
// pointing into the folder) so that no test sees another's drive_c,
// temporary files or the user's ~/.velmora. No test framework here: a
// failure to make the folder throws, which a fixture's SetUp reports.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmora::testing {

// A new empty folder under the system's temporary folder (never TMPDIR as a
// test set it), named <tag>-XXXXXX; removed with everything in it, even
// what a test left without write permission.
class ScratchFolder {
 public:
  explicit ScratchFolder(std::string_view tag = "velmora");
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  // path()/relative; path() itself for an empty relative.
  std::string Host(std::string_view relative) const;

 private:
  std::string path_;
};

// Sets (or, given nullopt, unsets) one environment variable and puts back
// what was there before when it goes.
class EnvGuard {
 public:
  EnvGuard(std::string name, const std::optional<std::string>& value);
  ~EnvGuard();
  EnvGuard(const EnvGuard&) = delete;
  EnvGuard& operator=(const EnvGuard&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// A scratch folder that is also the test's prefix world: VELMORA_PREFIX is
// <folder>/prefix (made by the platform on first use) and TMPDIR is
// <folder>/tmp (made here), both restored when it goes.
class ScratchPrefix {
 public:
  explicit ScratchPrefix(std::string_view tag = "velmora");

  const std::string& root() const { return folder_.path(); }
  std::string Host(std::string_view relative) const { return folder_.Host(relative); }
  std::string prefix() const { return Host("prefix"); }
  std::string temp() const { return Host("tmp"); }

 private:
  // Declared first: the guards restore the environment before the folder goes.
  ScratchFolder folder_;
  EnvGuard prefix_env_;
  EnvGuard temp_env_;
};

// A whole file as bytes in a string; empty when it cannot be read.
std::string ReadFileText(const std::string& host_path);
// Writes the bytes, replacing the file and making missing parent folders;
// false when that fails.
bool WriteFileText(const std::string& host_path, std::string_view bytes);

}  // namespace velmora::testing
