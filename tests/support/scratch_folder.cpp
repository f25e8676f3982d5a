#include "tests/support/scratch_folder.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace velmora::testing {

namespace fs = std::filesystem;

namespace {

// The temporary folder as the process started, taken before any test
// runs: a test that points TMPDIR somewhere odd must not send the next
// scratch folder there.
const std::string kStartTempFolder = [] {
  std::error_code ec;
  const fs::path folder = fs::temp_directory_path(ec);
  return ec ? std::string("/tmp") : folder.string();
}();

const std::string& SystemTempFolder() { return kStartTempFolder; }

}  // namespace

ScratchFolder::ScratchFolder(std::string_view tag) {
  std::string pattern = SystemTempFolder() + "/" + std::string(tag) + "-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "cannot make " + pattern);
  }
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  // Tests take permissions away from folders to make writes fail; give the
  // owner's back along the way so that remove_all can go everywhere.
  std::error_code ignored;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  for (auto it = fs::recursive_directory_iterator(path_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    if (ignored) break;
  }
  fs::remove_all(path_, ignored);
}

std::string ScratchFolder::Host(std::string_view relative) const {
  return relative.empty() ? path_ : path_ + "/" + std::string(relative);
}

EnvGuard::EnvGuard(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) old_ = old;
  if (value) {
    ::setenv(name_.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

EnvGuard::~EnvGuard() {
  if (old_) {
    ::setenv(name_.c_str(), old_->c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

ScratchPrefix::ScratchPrefix(std::string_view tag)
    : folder_(tag),
      prefix_env_("VELMORA_PREFIX", folder_.Host("prefix")),
      temp_env_("TMPDIR", folder_.Host("tmp")) {
  fs::create_directories(temp());
}

std::string ReadFileText(const std::string& host_path) {
  std::ifstream in(host_path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFileText(const std::string& host_path, std::string_view bytes) {
  std::error_code ignored;
  const fs::path parent = fs::path(host_path).parent_path();
  if (!parent.empty()) fs::create_directories(parent, ignored);
  std::ofstream out(host_path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return out.good();
}

}  // namespace velmora::testing
