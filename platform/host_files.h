// What the platform's file routines share among themselves: the Windows
// path model behind HostPath and GetFullPathNameA, error helpers that set
// the last error from errno, and the attribute and open rules every entry
// point applies the same way. Not for the layers above: they use win32.h,
// paths.h and sysutils.h.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace velmora::host {

// A Windows path taken apart after it was made full: the root ("C:" or,
// for UNC, "\\server\share"), the components with "." and ".." resolved,
// and whether the text ended in a separator.
struct WindowsPathParts {
  std::string root;
  std::vector<std::string> components;
  bool unc = false;
  bool trailing_separator = false;

  // "C:\a\b", keeping a trailing separator when asked and when there is a
  // component to put it behind ("C:\" is always written with its "\").
  std::string Render(bool keep_trailing_separator) const;
};

// Makes a Windows path full against the current folder (seen as a Z: path),
// purely by text: "/" counts as "\", "." and ".." are resolved and never
// climb above the root.
WindowsPathParts ParseFullWindowsPath(const std::string& path);

// The host folder a drive letter stands for, through
// $PREFIX/dosdevices/<letter>:; empty when the letter has no entry.
std::optional<std::string> DriveHostRoot(char letter);

// Whether names under this path are the host's own, matched exactly (a
// UNC path, or a drive that leads outside the prefix, such as Z:), rather
// than Windows names found without regard to case (the prefix's own
// drives, such as C:).
bool NamesAreExact(const WindowsPathParts& path);

// Sets the last error from errno (or the given errno value) and returns
// false, so failure paths read "return host::Fail();".
bool Fail(int err);
bool Fail();
// ENOENT means "file not found" when the parent folder exists and "path not
// found" when it does not, as Windows tells the two apart.
bool FailMissingAware(const std::string& host_path, int err);

// The Windows attributes of a host file whose stat is known.
DWORD AttributesOf(const std::string& host_path, const struct stat& st);
bool HasWriteBits(const struct stat& st);

// The DOS attributes kept in the user.DOSATTRIB extended attribute (text
// "0x%x"); empty when the file has none or the file system keeps none.
std::optional<DWORD> ReadDosAttrib(const std::string& host_path);
std::optional<DWORD> ReadDosAttribFd(int fd);
// Best effort: a file system without extended attributes keeps nothing.
void WriteDosAttrib(const std::string& host_path, DWORD attributes);

// How an open should treat other handles on the same file, mapped onto
// advisory flock locks between the handles this process family opens.
enum class Sharing { kShared, kExclusive };

// Opens a host path as CreateFileA and TFileStream need it: write access is
// refused for a file without write bits (the read-only attribute, which
// binds root too on Windows), folders are refused, and the sharing lock is
// taken before anything is truncated. Returns the descriptor or -1 with the
// last error set; existed (when given) tells whether the file was there.
struct OpenRequest {
  int access_flags = 0;        // O_RDONLY, O_WRONLY or O_RDWR
  bool create = false;         // make the file when it is missing
  bool exclusive_create = false;  // ... and fail when it is there
  bool truncate = false;
  bool allow_folder = false;
  Sharing sharing = Sharing::kShared;
};
int OpenHostFile(const std::string& host_path, const OpenRequest& request, bool* existed);

// Whether another handle holds the file exclusively (fmShareExclusive or a
// CreateFileA without share flags).
bool HeldExclusively(const std::string& host_path);

// Renames without replacing (paths relative to the folder handles, or
// AT_FDCWD); false with errno EEXIST when the target is there. File systems
// without RENAME_NOREPLACE get a check, then a rename.
bool RenameNoReplace(int from_folder, const std::string& from, int to_folder,
                     const std::string& to);

// Copies a host file whole: a temporary file beside the target, renamed over
// it, with the source's modification time, permission bits and DOSATTRIB.
bool CopyHostFile(const std::string& source, const std::string& target, bool fail_if_exists);

// The host path of a Windows path, with the last error set on failure.
std::optional<std::string> ResolveOrFail(const char* windows_path);

// Upper-case folding for name comparisons (ASCII, Latin-1, Latin
// Extended-A, Greek and Cyrillic in UTF-8); other bytes stay as they are.
std::string FoldCase(const std::string& text);

// Whether a folder changed (its modification time `modified`) so recently
// that a further change could still share its time stamp: what was read of
// it then may not be kept on the strength of an unchanged time.
bool ChangedTooRecently(const struct timespec& modified);

// A host time as a FILETIME (UTC), and back.
FILETIME FileTimeFromTimespec(const struct timespec& ts);
struct timespec TimespecFromFileTime(const FILETIME& time);

// The drive type of a block device, from the "removable" flag under
// sys_root ("/sys"; tests give a made-up tree).
UINT DriveTypeOfDevice(unsigned device_major, unsigned device_minor, const std::string& sys_root);

// The entry of a host folder whose name matches without regard to case,
// from a listing kept while the folder is unchanged (folder_listings.cpp).
std::optional<std::string> FindCaseBlind(const std::string& folder, const std::string& name);
void ForgetListing(const std::string& folder);

// Keeps a kept listing in step with a change this process makes to a
// folder: made before the change, told the names added or removed once they
// are, it brings the listing up to date when it goes (or drops it when it
// was stale already).
class FolderChange {
 public:
  explicit FolderChange(std::string folder);
  ~FolderChange();
  FolderChange(const FolderChange&) = delete;
  FolderChange& operator=(const FolderChange&) = delete;
  void Added(const std::string& name) { added_.push_back(name); }
  void Removed(const std::string& name);

 private:
  std::string folder_;
  std::vector<std::string> added_;
  bool current_ = false;
  bool removed_ = false;
  bool forget_ = false;
};

// The last component of a host path.
std::string HostBaseName(const std::string& host_path);

// The parent folder of a host path ("/" for "/x").
std::string HostParent(const std::string& host_path);

}  // namespace velmora::host
