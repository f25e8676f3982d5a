// File attributes. Read-only is the absence of write bits; the folder bit
// comes from the file type; hidden, system and archive live in the extended
// attribute user.DOSATTRIB as text "0x%x", the form Wine writes and Samba
// reads. Windows decides by the name whether a file runs, so *.exe and
// *.com get execute bits; a Unix mode in the high 16 bits (archives made on
// Unix store one) gives the permission bits.
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/folder_handles.h"
#include "platform/host_files.h"
#include "platform/paths.h"
#include "platform/win32.h"

namespace velmora {

namespace {

constexpr const char* kDosAttribName = "user.DOSATTRIB";
// The attributes the extended attribute carries; the rest follow the mode.
constexpr DWORD kXattrKept =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;
constexpr mode_t kPermissionBits = 0777;

std::optional<DWORD> ParseDosAttrib(const char* text, ssize_t length) {
  if (length <= 2) return std::nullopt;
  std::string value(text, static_cast<size_t>(length));
  // Samba's binary (version 3 and later) form does not start with "0x".
  if (value.compare(0, 2, "0x") != 0 && value.compare(0, 2, "0X") != 0) return std::nullopt;
  char* end = nullptr;
  unsigned long parsed = std::strtoul(value.c_str() + 2, &end, 16);
  if (end == value.c_str() + 2) return std::nullopt;
  return static_cast<DWORD>(parsed);
}

bool EndsWithCaseBlind(const std::string& text, const char* suffix) {
  std::string tail(suffix);
  if (text.size() < tail.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i) {
    char c = text[text.size() - tail.size() + i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != tail[i]) return false;
  }
  return true;
}

bool RunsByName(const std::string& host_path) {
  return EndsWithCaseBlind(host_path, ".EXE") || EndsWithCaseBlind(host_path, ".COM");
}

// A file's Unix mode in the high half of an attribute value, as archives
// made on Unix carry it: a regular file's, or permission bits alone, as
// Python's zipfile writes them (0600 for writestr). unzip applies both.
bool IsUnixFileMode(mode_t unix_mode) {
  return S_ISREG(unix_mode) || ((unix_mode & S_IFMT) == 0 && (unix_mode & kPermissionBits) != 0);
}

// The attributes a file has when no DOSATTRIB says otherwise: Windows marks
// every new or written file for archiving, as Wine reports it too.
DWORD DefaultKeptBits(const struct stat& st) {
  return S_ISDIR(st.st_mode) ? 0 : FILE_ATTRIBUTE_ARCHIVE;
}

}  // namespace

namespace host {

bool HasWriteBits(const struct stat& st) { return (st.st_mode & kWriteBits) != 0; }

std::optional<DWORD> ReadDosAttrib(const std::string& host_path) {
  char text[64];
  ssize_t n = ::getxattr(host_path.c_str(), kDosAttribName, text, sizeof text);
  return ParseDosAttrib(text, n);
}

std::optional<DWORD> ReadDosAttribFd(int fd) {
  char text[64];
  ssize_t n = ::fgetxattr(fd, kDosAttribName, text, sizeof text);
  return ParseDosAttrib(text, n);
}

void WriteDosAttrib(const std::string& host_path, DWORD attributes) {
  char text[16];
  int n = std::snprintf(text, sizeof text, "0x%x", attributes);
  // tmpfs before 6.6, vfat and others keep no user attributes: nothing to do.
  (void)::setxattr(host_path.c_str(), kDosAttribName, text, static_cast<size_t>(n), 0);
}

DWORD AttributesOf(const std::string& host_path, const struct stat& st) {
  DWORD attributes = 0;
  if (S_ISDIR(st.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if (!HasWriteBits(st)) attributes |= FILE_ATTRIBUTE_READONLY;
  std::optional<DWORD> kept = ReadDosAttrib(host_path);
  attributes |= kept ? (*kept & kXattrKept) : DefaultKeptBits(st);
  return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

}  // namespace host

DWORD GetFileAttributesA(const char* path) {
  std::optional<std::string> host_path = host::ResolveOrFail(path);
  if (!host_path) return INVALID_FILE_ATTRIBUTES;
  struct stat st {};
  if (::stat(host_path->c_str(), &st) != 0) {
    host::FailMissingAware(*host_path, errno);
    return INVALID_FILE_ATTRIBUTES;
  }
  return host::AttributesOf(*host_path, st);
}

bool SetFileAttributesA(const char* path, DWORD attributes) {
  std::optional<std::string> host_path = host::ResolveOrFail(path);
  if (!host_path) return false;
  struct stat st {};
  if (::stat(host_path->c_str(), &st) != 0) return host::FailMissingAware(*host_path, errno);

  mode_t old_mode = st.st_mode & 07777;
  // setuid, setgid and sticky never come from an archive, nor stay.
  mode_t mode = old_mode & kPermissionBits;
  auto unix_mode = static_cast<mode_t>(attributes >> 16);
  bool has_unix_mode = IsUnixFileMode(unix_mode) && S_ISREG(st.st_mode);
  if (has_unix_mode) mode = unix_mode & kPermissionBits;
  if (S_ISDIR(st.st_mode)) {
    // Windows ignores read-only on a folder (it means "customised" there),
    // and so does Wine.
  } else if (attributes & FILE_ATTRIBUTE_READONLY) {
    mode &= ~kWriteBits;
  } else if ((mode & kWriteBits) == 0 && !has_unix_mode) {
    mode |= S_IWUSR;  // clearing read-only gives the owner write access back
  }
  if (S_ISREG(st.st_mode) && RunsByName(*host_path)) {
    mode |= (mode & (S_IRUSR | S_IRGRP | S_IROTH)) >> 2;  // execute where read
  }

  DWORD kept = attributes & kXattrKept;
  std::optional<DWORD> current = host::ReadDosAttrib(*host_path);
  bool write_xattr = kept != (current ? (*current & kXattrKept) : DefaultKeptBits(st));
  // Writing a user attribute needs write access to the file, so it goes in
  // while the file still has (or already has) its write bits.
  // A file that stays read-only is opened for the owner just long enough.
  mode_t on_disk = old_mode;
  bool xattr_first = (old_mode & kWriteBits) != 0;
  if (write_xattr && !xattr_first && (mode & kWriteBits) == 0) {
    on_disk = old_mode | S_IWUSR;
    if (::chmod(host_path->c_str(), on_disk) != 0) return host::Fail();
    xattr_first = true;
  }
  if (write_xattr && xattr_first) host::WriteDosAttrib(*host_path, kept);
  if (mode != on_disk && ::chmod(host_path->c_str(), mode) != 0) return host::Fail();
  if (write_xattr && !xattr_first) host::WriteDosAttrib(*host_path, kept);
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool SetNewFileAttributes(int fd, const std::string& name, uint32_t attributes) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return host::Fail();
  // The same rules as SetFileAttributesA above, on a regular file that was
  // just made (so it carries no DOSATTRIB yet) and through its handle.
  mode_t mode = st.st_mode & kPermissionBits;
  auto unix_mode = static_cast<mode_t>(attributes >> 16);
  bool has_unix_mode = IsUnixFileMode(unix_mode);
  if (has_unix_mode) mode = unix_mode & kPermissionBits;
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    mode &= ~kWriteBits;
  } else if ((mode & kWriteBits) == 0 && !has_unix_mode) {
    mode |= S_IWUSR;
  }
  if (RunsByName(name)) mode |= (mode & (S_IRUSR | S_IRGRP | S_IROTH)) >> 2;
  DWORD kept = attributes & kXattrKept;
  // An item made on Unix carries no DOS attributes worth keeping: its low
  // bits are 0 where a DOS tool would set archive, so only hidden and
  // system count there. Written while the file still has its write bits
  // (user attributes need write access, even through an open handle).
  const bool differs = has_unix_mode
                           ? (kept & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0
                           : kept != DefaultKeptBits(st);
  if (differs) {
    char text[16];
    int n = std::snprintf(text, sizeof text, "0x%x", kept);
    (void)::fsetxattr(fd, kDosAttribName, text, static_cast<size_t>(n), 0);
  }
  if (mode != (st.st_mode & 07777) && ::fchmod(fd, mode) != 0) return host::Fail();
  SetLastError(ERROR_SUCCESS);
  return true;
}

}  // namespace velmora
