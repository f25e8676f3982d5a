// Drives: the type of the drive a folder lies on (removable when its block
// device says so in /sys), and its free space.
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "platform/host_files.h"
#include "platform/paths.h"
#include "platform/win32.h"

namespace velmora {

namespace {

// Read with stdio: every archive opened asks for its drive's type, and an
// iostream would set up the locale machinery for one number.
bool FlagIsSet(const std::string& file) {
  std::FILE* in = std::fopen(file.c_str(), "re");
  if (in == nullptr) return false;
  int value = 0;
  const bool read = std::fscanf(in, "%d", &value) == 1;
  std::fclose(in);
  return read && value == 1;
}

}  // namespace

namespace host {

UINT DriveTypeOfDevice(unsigned device_major, unsigned device_minor, const std::string& sys_root) {
  // Major 0 are the devices of virtual file systems (tmpfs, overlay, ...),
  // which lie on no disk at all.
  if (device_major == 0) return DRIVE_FIXED;
  std::string link = sys_root + "/dev/block/" + std::to_string(device_major) + ":" +
                     std::to_string(device_minor);
  char resolved[PATH_MAX];
  if (::realpath(link.c_str(), resolved) == nullptr) return DRIVE_FIXED;
  std::string device = resolved;
  // A partition has no flag of its own; its disk, the folder above, has.
  struct stat st {};
  if (::stat((device + "/removable").c_str(), &st) != 0) device = HostParent(device);
  return FlagIsSet(device + "/removable") ? DRIVE_REMOVABLE : DRIVE_FIXED;
}

}  // namespace host

UINT GetDriveTypeA(const char* root_path) {
  std::string root = root_path != nullptr ? root_path : "\\";
  // "D:" names the drive, not the current folder on it.
  if (root.size() == 2 && root[1] == ':') root += '\\';
  std::optional<std::string> folder = HostPath(root);
  struct stat st {};
  if (!folder || ::stat(folder->c_str(), &st) != 0) return DRIVE_NO_ROOT_DIR;
  // Every archive opened asks, and the walk through /sys takes some fifteen
  // system calls: a device's answer is kept for the life of the process
  // (a disk does not turn removable under its number while we run).
  static std::mutex mutex;
  static std::map<dev_t, UINT> known;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (auto kept = known.find(st.st_dev); kept != known.end()) return kept->second;
  }
  const UINT type = host::DriveTypeOfDevice(major(st.st_dev), minor(st.st_dev), "/sys");
  std::lock_guard<std::mutex> lock(mutex);
  known.emplace(st.st_dev, type);
  return type;
}

bool GetDiskFreeSpaceExA(const char* directory, uint64_t* free_to_caller, uint64_t* total,
                         uint64_t* total_free) {
  std::optional<std::string> folder = HostPath(directory != nullptr ? directory : ".");
  if (!folder) return false;
  struct statvfs fs {};
  if (::statvfs(folder->c_str(), &fs) != 0) {
    // The argument names a folder: a missing one is a missing path.
    if (errno == ENOENT || errno == ENOTDIR) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return false;
    }
    return host::Fail();
  }
  uint64_t unit = fs.f_frsize != 0 ? fs.f_frsize : fs.f_bsize;
  if (free_to_caller != nullptr) *free_to_caller = static_cast<uint64_t>(fs.f_bavail) * unit;
  if (total != nullptr) *total = static_cast<uint64_t>(fs.f_blocks) * unit;
  if (total_free != nullptr) *total_free = static_cast<uint64_t>(fs.f_bfree) * unit;
  SetLastError(ERROR_SUCCESS);
  return true;
}

DWORD GetFullPathNameA(const char* file_name, DWORD buffer_length, char* buffer, char** file_part) {
  if (file_name == nullptr || *file_name == '\0') {
    SetLastError(ERROR_INVALID_NAME);
    return 0;
  }
  std::string full = host::ParseFullWindowsPath(file_name).Render(true);
  if (full.size() >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return 0;
  }
  auto length = static_cast<DWORD>(full.size());
  if (buffer == nullptr || buffer_length <= length) return length + 1;  // the size it needs
  full.copy(buffer, full.size());
  buffer[full.size()] = '\0';
  if (file_part != nullptr) {
    size_t slash = full.find_last_of('\\');
    bool has_name = slash != std::string::npos && slash + 1 < full.size();
    *file_part = has_name ? buffer + slash + 1 : nullptr;
  }
  return length;
}

}  // namespace velmora
