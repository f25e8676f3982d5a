// Folders and whole files: create, remove, delete, copy and move, by Windows
// path, with Windows's answers (one level at a time, read-only files kept,
// a copy that replaces its target whole).
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/host_files.h"
#include "platform/paths.h"
#include "platform/win32.h"

namespace velmora {

namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool CopyContents(int from, int to) {
  std::vector<char> buffer(1 << 18);
  for (;;) {
    ssize_t n = ::read(from, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!WriteAll(to, buffer.data(), static_cast<size_t>(n))) return false;
  }
}

void CopyDosAttrib(int from, int to) {
  char value[64];
  ssize_t n = ::fgetxattr(from, "user.DOSATTRIB", value, sizeof value);
  if (n > 0) (void)::fsetxattr(to, "user.DOSATTRIB", value, static_cast<size_t>(n), 0);
}

// The Windows path's last component as the caller wrote it, for a rename
// that changes only the case of a name.
std::string LiteralLastComponent(const char* windows_path) {
  host::WindowsPathParts parts = host::ParseFullWindowsPath(windows_path);
  return parts.components.empty() ? std::string() : parts.components.back();
}

}  // namespace

namespace host {

bool RenameNoReplace(int from_folder, const std::string& from, int to_folder,
                     const std::string& to) {
  if (::renameat2(from_folder, from.c_str(), to_folder, to.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
  struct stat st {};
  if (::fstatat(to_folder, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    errno = EEXIST;
    return false;
  }
  return ::renameat(from_folder, from.c_str(), to_folder, to.c_str()) == 0;
}

bool CopyHostFile(const std::string& source, const std::string& target, bool fail_if_exists) {
  OpenRequest request;
  request.access_flags = O_RDONLY;
  int from = OpenHostFile(source, request, nullptr);
  if (from < 0) return false;
  struct stat source_stat {};
  if (::fstat(from, &source_stat) != 0) {
    int err = errno;
    ::close(from);
    return Fail(err);
  }

  struct stat target_stat {};
  if (::stat(target.c_str(), &target_stat) == 0) {
    DWORD refusal = ERROR_SUCCESS;
    if (fail_if_exists) {
      refusal = ERROR_FILE_EXISTS;
    } else if (SameFile(source_stat, target_stat)) {
      refusal = ERROR_SHARING_VIOLATION;  // Windows: the source is open
    } else if (S_ISDIR(target_stat.st_mode) || !HasWriteBits(target_stat)) {
      refusal = ERROR_ACCESS_DENIED;  // a folder, or a read-only file
    } else if (HeldExclusively(target)) {
      refusal = ERROR_SHARING_VIOLATION;
    }
    if (refusal != ERROR_SUCCESS) {
      ::close(from);
      SetLastError(refusal);
      return false;
    }
  }

  // The new contents go into a file beside the target, renamed over it at
  // the end: readers see the old file or the new one, never half of one.
  FolderChange change(HostParent(target));
  std::string temp = HostParent(target) + "/.velmora-copy-XXXXXX";
  std::vector<char> temp_name(temp.begin(), temp.end());
  temp_name.push_back('\0');
  int to = ::mkostemp(temp_name.data(), O_CLOEXEC);
  if (to < 0) {
    int err = errno;
    ::close(from);
    return FailMissingAware(target, err);
  }
  temp.assign(temp_name.data());

  // Windows keeps the last-write time and the attributes; here that is the
  // modification time, the permission bits and the DOS attributes.
  struct timespec times[2] = {{0, UTIME_OMIT}, source_stat.st_mtim};
  bool ok = CopyContents(from, to) && ::fchmod(to, source_stat.st_mode & 0777) == 0;
  if (ok) CopyDosAttrib(from, to);
  ok = ok && ::futimens(to, times) == 0;
  int err = errno;
  ::close(from);
  if (::close(to) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok) {
    ok = fail_if_exists ? RenameNoReplace(AT_FDCWD, temp, AT_FDCWD, target)
                        : ::rename(temp.c_str(), target.c_str()) == 0;
    err = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    if (err == EEXIST) {
      SetLastError(ERROR_FILE_EXISTS);
      return false;
    }
    return Fail(err);
  }
  change.Added(HostBaseName(target));
  SetLastError(ERROR_SUCCESS);
  return true;
}

}  // namespace host

bool CreateDirectoryA(const char* path, void* /*security_attributes*/) {
  std::optional<std::string> host_path = host::ResolveOrFail(path);
  if (!host_path) return false;
  host::FolderChange change(host::HostParent(*host_path));
  if (::mkdir(host_path->c_str(), 0777) != 0) {
    // Only one level is made: a missing parent is "path not found".
    if (errno == ENOENT || errno == ENOTDIR) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return false;
    }
    return host::Fail();
  }
  change.Added(host::HostBaseName(*host_path));
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool RemoveDirectoryA(const char* path) {
  std::optional<std::string> host_path = host::ResolveOrFail(path);
  if (!host_path) return false;
  if (host::ParseFullWindowsPath(path).components.empty()) {
    SetLastError(ERROR_ACCESS_DENIED);  // a drive's root stays
    return false;
  }
  struct stat st {};
  if (::lstat(host_path->c_str(), &st) != 0) return host::FailMissingAware(*host_path, errno);
  if (!S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_DIRECTORY);
    return false;
  }
  host::FolderChange change(host::HostParent(*host_path));
  if (::rmdir(host_path->c_str()) != 0) {
    if (errno == ENOTEMPTY || errno == EEXIST) {
      SetLastError(ERROR_DIR_NOT_EMPTY);
      return false;
    }
    return host::Fail();
  }
  change.Removed(host::HostBaseName(*host_path));
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool DeleteFileA(const char* path) {
  std::optional<std::string> host_path = host::ResolveOrFail(path);
  if (!host_path) return false;
  struct stat st {};
  if (::lstat(host_path->c_str(), &st) != 0) return host::FailMissingAware(*host_path, errno);
  // Windows deletes neither a folder nor a read-only file with DeleteFile.
  if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && !host::HasWriteBits(st))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  host::FolderChange change(host::HostParent(*host_path));
  if (::unlink(host_path->c_str()) != 0) return host::FailMissingAware(*host_path, errno);
  change.Removed(host::HostBaseName(*host_path));
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool CopyFileA(const char* existing, const char* new_name, bool fail_if_exists) {
  std::optional<std::string> source = host::ResolveOrFail(existing);
  if (!source) return false;
  std::optional<std::string> target = host::ResolveOrFail(new_name);
  if (!target) return false;
  return host::CopyHostFile(*source, *target, fail_if_exists);
}

bool MoveFileA(const char* existing, const char* new_name) {
  std::optional<std::string> source = host::ResolveOrFail(existing);
  if (!source) return false;
  std::optional<std::string> target = host::ResolveOrFail(new_name);
  if (!target) return false;
  struct stat source_stat {};
  if (::lstat(source->c_str(), &source_stat) != 0) {
    return host::FailMissingAware(*source, errno);
  }
  // Moves are rare: the listings of both folders are simply read again.
  struct ForgetBoth {
    std::string first, second;
    ~ForgetBoth() {
      host::ForgetListing(first);
      host::ForgetListing(second);
    }
  } forget{host::HostParent(*source), host::HostParent(*target)};
  struct stat target_stat {};
  if (::lstat(target->c_str(), &target_stat) == 0) {
    if (!SameFile(source_stat, target_stat)) {
      SetLastError(ERROR_ALREADY_EXISTS);
      return false;
    }
    // The case-blind lookup found the source itself: the caller changes
    // only the case of the name, so the new name is taken as written.
    std::string literal = LiteralLastComponent(new_name);
    *target = host::HostParent(*target) + "/" + literal;
    if (literal.empty() || *target == *source) {
      SetLastError(ERROR_SUCCESS);
      return true;
    }
    if (::rename(source->c_str(), target->c_str()) != 0) return host::Fail();
    SetLastError(ERROR_SUCCESS);
    return true;
  }
  if (host::RenameNoReplace(AT_FDCWD, *source, AT_FDCWD, *target)) {
    SetLastError(ERROR_SUCCESS);
    return true;
  }
  int err = errno;
  if (err == EXDEV && S_ISREG(source_stat.st_mode)) {
    // MoveFile moves a file to another volume by copying it.
    if (!host::CopyHostFile(*source, *target, true)) return false;
    if (::unlink(source->c_str()) != 0) return host::Fail();
    SetLastError(ERROR_SUCCESS);
    return true;
  }
  if (err == EEXIST) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return false;
  }
  if (err == ENOENT) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  return host::Fail(err);
}

}  // namespace velmora
