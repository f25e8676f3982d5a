// Temporary files: the temp folder is $TMPDIR or /tmp seen as a Z: path,
// and GetTempFileNameA makes "VMS1A2B.TMP"-style names, creating the file
// exclusively (O_EXCL, so an existing file or link is never opened) with
// mode 0600, since an extracted item may hold decrypted data.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "platform/host_files.h"
#include "platform/paths.h"
#include "platform/win32.h"

namespace velmora {

namespace {

// The process's umask, read without changing it (umask(2) can only be read
// by setting it, which would race with other threads creating files).
mode_t CurrentUmask() {
  FILE* status = std::fopen("/proc/self/status", "r");
  mode_t mask = 022;
  if (status == nullptr) return mask;
  char line[256];
  while (std::fgets(line, sizeof line, status) != nullptr) {
    unsigned value = 0;
    if (std::sscanf(line, "Umask: %o", &value) == 1) {
      mask = static_cast<mode_t>(value & 0777);
      break;
    }
  }
  std::fclose(status);
  return mask;
}

// Four-digit names tried before the names grow; then long random ones.
constexpr UINT kShortNameTries = 64;
constexpr UINT kLongNameTries = 64;

std::string HexName(const char* prefix, UINT unique, bool whole_number = false) {
  // The first three characters of the prefix, as Windows takes them.
  std::string name = prefix != nullptr ? std::string(prefix).substr(0, 3) : std::string();
  char digits[12];
  // A given number keeps its low 16 bits, as on Windows; the long numbers
  // of a crowded folder (above 0xFFFF) are written whole.
  std::snprintf(digits, sizeof digits, "%X", whole_number ? unique : unique & 0xFFFF);
  return name + digits + ".TMP";
}

// Where the search for a free number starts: different in each process and
// each call, so parallel callers rarely try the same names.
UINT StartingNumber() {
  static std::atomic<uint32_t> counter{static_cast<uint32_t>(
      ::getpid() * 7919u +
      static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()))};
  return counter.fetch_add(1) % 0xFFFF;
}

}  // namespace

DWORD GetTempPathA(DWORD buffer_length, char* buffer) {
  const char* tmpdir = std::getenv("TMPDIR");
  std::string folder = WindowsPath(tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp");
  if (folder.back() != '\\') folder += '\\';
  auto length = static_cast<DWORD>(folder.size());
  if (buffer == nullptr || buffer_length <= length) return length + 1;  // the size it needs
  std::memcpy(buffer, folder.c_str(), folder.size() + 1);
  return length;
}

UINT GetTempFileNameA(const char* path, const char* prefix, UINT unique, char* temp_file_name) {
  if (path == nullptr || temp_file_name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string folder_text = path;
  if (!folder_text.empty() && folder_text.back() != '\\' && folder_text.back() != '/') {
    folder_text += '\\';
  }
  std::optional<std::string> folder = HostPath(folder_text.empty() ? "." : folder_text);
  if (!folder) return 0;
  // The caller's buffer holds MAX_PATH characters.
  auto fits = [&](const std::string& name) { return folder_text.size() + name.size() < MAX_PATH; };

  if ((unique & 0xFFFF) != 0) {
    std::string name = HexName(prefix, unique);
    if (!fits(name)) {
      SetLastError(ERROR_BUFFER_OVERFLOW);
      return 0;
    }
    std::strcpy(temp_file_name, (folder_text + name).c_str());
    return unique & 0xFFFF;
  }

  host::FolderChange change(*folder);
  // The four-digit names first, as Windows makes them; a folder crowded
  // with them (leftovers, or another user's files) is not a dead end: after
  // kShortNameTries taken names the numbers grow to eight random digits.
  UINT start = StartingNumber();
  static thread_local std::mt19937 random{std::random_device{}() ^ static_cast<unsigned>(::getpid())};
  for (UINT tried = 0; tried < kShortNameTries + kLongNameTries; ++tried) {
    UINT number = tried < kShortNameTries ? (start + tried) % 0xFFFF + 1  // 1 to 0xFFFF
                                          : static_cast<UINT>(random() | 0x10000000u);
    std::string name = HexName(prefix, number, tried >= kShortNameTries);
    if (!fits(name)) {
      SetLastError(ERROR_BUFFER_OVERFLOW);
      return 0;
    }
    std::string host_file = (*folder == "/" ? "" : *folder) + "/" + name;
    int fd = ::open(host_file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      host::FailMissingAware(host_file, errno);
      return 0;
    }
    ::close(fd);
    change.Added(name);
    std::strcpy(temp_file_name, (folder_text + name).c_str());
    SetLastError(ERROR_SUCCESS);
    return number;
  }
  SetLastError(ERROR_FILE_EXISTS);
  return 0;
}

bool GiveNewFileMode(const char* path) {
  std::optional<std::string> host_path = host::ResolveOrFail(path);
  if (!host_path) return false;
  if (::chmod(host_path->c_str(), 0666 & ~CurrentUmask()) != 0) return host::Fail();
  SetLastError(ERROR_SUCCESS);
  return true;
}

}  // namespace velmora
