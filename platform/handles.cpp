// Opening files by Windows path: CreateFileA, the handle calls, and the one
// open routine that TFileStream shares with them. A HANDLE is a descriptor.
//
// Windows sharing is mapped onto flock: a handle opened without sharing
// (CreateFileA share 0, fmShareExclusive) holds LOCK_EX, every other handle
// LOCK_SH, each taken without waiting. So two handles of ours conflict where
// Windows would refuse the second open; programs that take no flock are not
// kept out, which is as much as the host allows.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/host_files.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/win32.h"

namespace velmora {

// Process handles are numbered above every descriptor by the process layer
// (process.h), which closes them itself. Weak, so a program that never
// starts a process does not carry that layer for CloseHandle's sake.
[[gnu::weak]] bool IsProcessHandle(HANDLE handle);
[[gnu::weak]] bool CloseProcessHandle(HANDLE handle);

namespace host {

int OpenHostFile(const std::string& host_path, const OpenRequest& request, bool* existed) {
  bool wants_write = (request.access_flags & O_ACCMODE) != O_RDONLY || request.truncate;
  int flags = request.access_flags | O_CLOEXEC;
  int fd = -1;
  bool was_there = false;
  std::optional<FolderChange> change;
  if (request.create) change.emplace(HostParent(host_path));
  // Another process may create or remove the file between the tries; a few
  // rounds settle it.
  for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
    if (request.create) {
      fd = ::open(host_path.c_str(), flags | O_CREAT | O_EXCL, 0666);
      if (fd >= 0) {
        change->Added(HostBaseName(host_path));
        break;
      }
      if (errno != EEXIST) {
        FailMissingAware(host_path, errno);
        return -1;
      }
      if (request.exclusive_create) {
        SetLastError(ERROR_FILE_EXISTS);
        return -1;
      }
    }
    struct stat st {};
    if (::stat(host_path.c_str(), &st) != 0) {
      if (errno == ENOENT && request.create) continue;
      FailMissingAware(host_path, errno);
      return -1;
    }
    if (S_ISDIR(st.st_mode) && !(request.allow_folder && !wants_write)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return -1;
    }
    // The read-only attribute binds every user on Windows, root included.
    if (wants_write && !HasWriteBits(st)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return -1;
    }
    fd = ::open(host_path.c_str(), flags);
    if (fd < 0) {
      if (errno == ENOENT && request.create) continue;
      FailMissingAware(host_path, errno);
      return -1;
    }
    was_there = true;
  }
  if (fd < 0) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return -1;
  }
  int lock = (request.sharing == Sharing::kExclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
  if (::flock(fd, lock) != 0 && errno == EWOULDBLOCK) {
    ::close(fd);
    SetLastError(ERROR_SHARING_VIOLATION);
    return -1;
  }
  // Truncated only now, so a file held by another handle is left whole.
  if (request.truncate && was_there && ::ftruncate(fd, 0) != 0) {
    int err = errno;
    ::close(fd);
    Fail(err);
    return -1;
  }
  if (existed != nullptr) *existed = was_there;
  SetLastError(ERROR_SUCCESS);
  return fd;
}

bool HeldExclusively(const std::string& host_path) {
  int fd = ::open(host_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

}  // namespace host

HANDLE CreateFileA(const char* path, DWORD access, DWORD share_mode, void* /*security_attributes*/,
                   DWORD creation_disposition, DWORD flags, HANDLE /*template_file*/) {
  constexpr DWORD kGenericAll = 0x10000000;
  bool read = (access & (GENERIC_READ | kGenericAll)) != 0;
  bool write = (access & (GENERIC_WRITE | kGenericAll)) != 0;
  host::OpenRequest request;
  request.access_flags = write ? (read ? O_RDWR : O_WRONLY) : O_RDONLY;
  request.allow_folder = (flags & FILE_FLAG_BACKUP_SEMANTICS) != 0;
  request.sharing = share_mode == 0 ? host::Sharing::kExclusive : host::Sharing::kShared;
  switch (creation_disposition) {
    case CREATE_NEW: request.create = request.exclusive_create = true; break;
    case CREATE_ALWAYS: request.create = request.truncate = true; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: request.create = true; break;
    case TRUNCATE_EXISTING:
      if (!write) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
      }
      request.truncate = true;
      break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
  }
  std::optional<std::string> host_path = host::ResolveOrFail(path);
  if (!host_path) return INVALID_HANDLE_VALUE;
  bool existed = false;
  int fd = host::OpenHostFile(*host_path, request, &existed);
  if (fd < 0) return INVALID_HANDLE_VALUE;
  // As on Windows, CREATE_ALWAYS and OPEN_ALWAYS tell that the file was there.
  bool tell_existed = existed && (creation_disposition == CREATE_ALWAYS ||
                                  creation_disposition == OPEN_ALWAYS);
  SetLastError(tell_existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return static_cast<HANDLE>(fd);
}

bool CloseHandle(HANDLE handle) {
  // Process and thread handles (process.h) lie above every descriptor.
  if (IsProcessHandle && IsProcessHandle(handle)) return CloseProcessHandle(handle);
  if (handle < 0 || handle > INT32_MAX) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  // After EINTR the descriptor is closed all the same on Linux.
  if (::close(static_cast<int>(handle)) != 0 && errno != EINTR) return host::Fail();
  return true;
}

bool FlushFileBuffers(HANDLE handle) {
  if (handle < 0 || handle > INT32_MAX) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (::fsync(static_cast<int>(handle)) != 0) return host::Fail();
  return true;
}

}  // namespace velmora
