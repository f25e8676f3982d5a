// Writing below a target folder through open folder handles. The folder is
// resolved from its Windows path once and kept open for the life of the
// process, with every folder below it that was already walked, so an
// extracted file costs a constant number of system calls however deep it
// lies and however many files its folder holds.
//
// Nothing below the target folder is reached through a symbolic link: each
// folder is opened with openat2 and RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS
// (O_NOFOLLOW per component where the kernel has no openat2), so a link
// planted inside the target can never send a write elsewhere.
//
// Case follows the file system that holds the target: a host folder (one
// reached through z:, or handed over as a host path) takes names exactly;
// a folder on the prefix's own drives (c:) finds existing names without
// regard to case, as Windows does.
#pragma once

#include <sys/types.h>
#include <time.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace velmora {

// How a walk to a folder below the target ended.
enum class FolderWalk {
  kOpened,
  kMissing,    // a folder on the way is not there (and was not to be made)
  kSymlink,    // a component is a symbolic link
  kNotFolder,  // a component is a file
  kFailed,     // any other error; errno tells which
};

class TargetFolder : public std::enable_shared_from_this<TargetFolder> {
 public:
  // The folder a Windows path names, opened once per process (per prefix)
  // and kept. Null with the last error set when it cannot be opened.
  static std::shared_ptr<TargetFolder> Open(const std::string& windows_folder);
  // A host folder named by its host path as given: every character but "/"
  // belongs to a name (a backslash too). Its names are taken exactly.
  static std::shared_ptr<TargetFolder> OpenHost(const std::string& host_folder);
  // Drops every kept handle: the next Open resolves afresh.
  static void ForgetAll();

  ~TargetFolder();
  TargetFolder(const TargetFolder&) = delete;
  TargetFolder& operator=(const TargetFolder&) = delete;

  bool ExactNames() const { return exact_names_; }
  const std::string& HostPath() const { return host_path_; }

  // The folder at `components` below this one, made one level at a time
  // when `create` is set. On success *fd is a handle kept by this object
  // (valid until ForgetAll) and *host_folder its host path. Otherwise
  // *stopped_at is the number of components that were fine before the
  // one that stopped the walk; kFailed with errno ESTALE means a kept
  // handle names a removed folder (ForgetAll, then walk again). Components are taken as names, never
  // interpreted ("." and ".." are refused by the caller).
  FolderWalk OpenBelow(const std::vector<std::string>& components, bool create, int* fd,
                       std::string* host_folder, size_t* stopped_at);

  // The name `name` takes in a folder opened by OpenBelow: itself where
  // names are exact, else the existing entry that matches it without
  // regard to case (or itself when there is none).
  std::string EntryName(const std::string& host_folder, const std::string& name) const;

  // Whether a kept handle now names a folder that was removed, so the
  // handles must be dropped and the path resolved again.
  static bool IsStale(int fd);

  // Notes that this process put `name` into a folder during this run, and
  // tells whether it had done so before (the same name twice in one
  // archive, or two names that one folder takes as the same).
  bool NoteWritten(int folder_fd, const std::string& name);

  // Gives the folder at `components` the permission bits `mode` (0777 at
  // most), as unzip restores a folder's stored Unix mode, when this process
  // made that folder; one that was there before keeps its own. A mode that
  // would keep the owner from writing into the folder waits for
  // ApplyFolderSettings, so the items after it still find room.
  void RestoreFolderMode(const std::vector<std::string>& components, uint32_t mode);
  // Gives the folder at `components`, when this process made it, the
  // modification time `modified` in ApplyFolderSettings, as unzip sets
  // folder times after the files inside them are written.
  void RestoreFolderTime(const std::vector<std::string>& components,
                         const struct timespec& modified);
  // Sets the times and modes RestoreFolderTime and RestoreFolderMode kept
  // waiting; called once the items of a run are written.
  static void ApplyFolderSettings();

 private:
  TargetFolder(int root_fd, std::string host_path, bool exact_names);
  int Descend(int parent_fd, const std::string& parent_host, const std::string& name,
              bool create, FolderWalk* result, std::string* actual_name, bool* made);
  void DropBelow();

  int root_fd_;
  std::string host_path_;
  bool exact_names_;
  // Relative path ("a/b") → an O_PATH handle of that folder.
  // Two threads extracting into one target share these.
  std::mutex mutex_;
  std::unordered_map<std::string, int> below_;
  // The files written in this run, as 64-bit hashes of folder handle and
  // name: a many-files archive keeps 8 bytes per file rather than the
  // names (two names share a hash about once in 10^12 runs of 4,000 files,
  // and then cost only a needless warning line).
  std::unordered_set<uint64_t> written_;
  // Relative paths of the folders this process made below the target.
  std::unordered_set<std::string> made_;
};

// A file being written in the folder that will hold it: a file without a
// name (O_TMPFILE), or where the file system cannot make one, a hidden
// unique name; made visible under its real name only when complete, so the
// target appears only whole and a file it replaces stays until then.
// Dropped without Publish, it leaves nothing behind.
class NewFileInFolder {
 public:
  NewFileInFolder() = default;
  ~NewFileInFolder() { Discard(); }
  NewFileInFolder(const NewFileInFolder&) = delete;
  NewFileInFolder& operator=(const NewFileInFolder&) = delete;

  // Creates the file in folder_fd with mode 0666 less the umask. False with
  // errno set when it cannot.
  bool Create(int folder_fd);
  int Fd() const { return fd_; }
  // The hidden name the file has in its folder; empty while it has none.
  const std::string& HiddenName() const { return hidden_name_; }

  // Gives the file its name in the folder, replacing a file of that name.
  // False with errno set when it cannot; the file is then still unnamed
  // (or under its hidden name) and Discard removes it. A folder of that
  // name is never replaced (EISDIR); a link there is replaced itself, never
  // written through.
  bool Publish(const std::string& name, bool* replaced);

  // Closes the file; when it was never published, nothing of it remains.
  void Discard();

 private:
  bool LinkUnnamed(const std::string& name);
  int folder_fd_ = -1;
  int fd_ = -1;
  std::string hidden_name_;  // empty for an unnamed file
  int pending_slot_ = -1;
  bool published_ = false;
};

// Sets a new file's Windows attributes through its handle, as
// SetFileAttributesA does by path: read-only clears the write bits, a Unix
// mode in the high 16 bits gives the permission bits, *.exe and *.com (by
// `name`) get execute bits, and hidden, system and archive go into
// user.DOSATTRIB only when they differ from a plain file's.
bool SetNewFileAttributes(int fd, const std::string& name, uint32_t attributes);

// Removes the hidden temporary files that writes in progress hold (the
// unnamed ones need nothing). Safe to call from a signal handler.
void RemovePendingTempFiles();
// Adds a named temporary file (a host path) to those it removes; returns a
// token for ForgetPendingTempFile (-1 when no slot was free).
int NotePendingTempFile(const std::string& host_path);
void ForgetPendingTempFile(int token);

}  // namespace velmora
