// The per-thread last error and the errno translation every entry point
// reports through.
#include <cerrno>
#include <string>

#include <sys/stat.h>

#include "platform/host_files.h"
#include "platform/win32.h"

namespace velmora {

namespace {
// Windows keeps the last error per thread; so do we.
thread_local DWORD last_error = ERROR_SUCCESS;
}  // namespace

DWORD GetLastError() { return last_error; }
void SetLastError(DWORD code) { last_error = code; }

DWORD WinErrorFromErrno(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ELOOP: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EBUSY:
    case ETXTBSY:
    case EWOULDBLOCK: return ERROR_SHARING_VIOLATION;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case ENODEV:
    case ENXIO:
    case ENOMEDIUM: return ERROR_NOT_READY;
    default: return ERROR_GEN_FAILURE;
  }
}

namespace host {

bool Fail(int err) {
  SetLastError(WinErrorFromErrno(err));
  return false;
}

bool Fail() { return Fail(errno); }

bool FailMissingAware(const std::string& host_path, int err) {
  if (err == ENOENT) {
    struct stat st {};
    bool parent_is_folder =
        ::stat(HostParent(host_path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    SetLastError(parent_is_folder ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return false;
  }
  return Fail(err);
}

}  // namespace host
}  // namespace velmora
