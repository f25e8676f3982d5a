// Target folders kept open, the walk below them that never follows a link,
// and new files written in the folder that will hold them.
#include "platform/folder_handles.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <utility>

#include "platform/host_files.h"
#include "platform/paths.h"
#include "platform/win32.h"

namespace velmora {

namespace {

// Only permission bits come from an archive: setuid, setgid and sticky
// never do, as unzip leaves them out unless told otherwise.
constexpr mode_t kFolderPermissionBits = 0777;

// Past this many kept folder handles the kept ones are closed and the walk
// starts again from the target: far below the usual limit of 1,024 open
// files, and more than the folders of any one archive we have seen.
constexpr size_t kMaxKeptFolders = 256;

// 0: not tried yet, 1: the kernel has openat2, 2: it has not.
std::atomic<int> g_openat2_state{0};

// A folder below `parent`, opened without following a link in its place:
// ELOOP when it is one. O_PATH is enough for a handle that only anchors
// further *at calls.
int OpenFolderNoFollow(int parent, const std::string& name) {
  if (g_openat2_state.load(std::memory_order_relaxed) != 2) {
    struct open_how how {};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    long fd = ::syscall(SYS_openat2, parent, name.c_str(), &how, sizeof how);
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) {
      g_openat2_state.store(1, std::memory_order_relaxed);
      return static_cast<int>(fd);
    }
    // ENOSYS: an older kernel; EPERM: a seccomp filter that refuses it.
    g_openat2_state.store(2, std::memory_order_relaxed);
  }
  // O_PATH with O_NOFOLLOW would open the link itself, so the fallback asks
  // for a readable folder, which a link in its place fails with ELOOP.
  return ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Why a component could not be opened as a folder.
FolderWalk Classify(int parent, const std::string& name, int err) {
  if (err == ENOENT) return FolderWalk::kMissing;
  if (err == ELOOP || err == ENOTDIR || err == EXDEV) {
    struct stat st {};
    if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      if (S_ISLNK(st.st_mode)) return FolderWalk::kSymlink;
      if (!S_ISDIR(st.st_mode)) return FolderWalk::kNotFolder;
    }
  }
  errno = err;
  return FolderWalk::kFailed;
}

std::string Join(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::mutex& TargetsMutex() {
  static std::mutex mutex;
  return mutex;
}

// Kept targets by the key Open gives them.
std::map<std::string, std::shared_ptr<TargetFolder>>& KeptTargets() {
  static std::map<std::string, std::shared_ptr<TargetFolder>> targets;
  return targets;
}

// Hidden temporary names of writes in progress, for a signal handler to
// remove: lock-free, written by the extracting thread only.
// A slot holds a name in a folder handle, or an absolute path with
// AT_FDCWD; kFreeSlot marks it unused.
constexpr int kFreeSlot = -1000;
struct PendingSlot {
  std::atomic<int> folder_fd{kFreeSlot};
  char name[PATH_MAX] = {};
};
constexpr int kPendingSlots = 8;
PendingSlot g_pending[kPendingSlots];

int ClaimPendingSlot(int folder_fd, const std::string& name) {
  for (int i = 0; i < kPendingSlots; ++i) {
    if (g_pending[i].folder_fd.load(std::memory_order_acquire) != kFreeSlot) continue;
    if (name.size() >= sizeof g_pending[i].name) return -1;
    std::snprintf(g_pending[i].name, sizeof g_pending[i].name, "%s", name.c_str());
    g_pending[i].folder_fd.store(folder_fd, std::memory_order_release);
    return i;
  }
  return -1;
}

void ReleasePendingSlot(int slot) {
  if (slot >= 0) g_pending[slot].folder_fd.store(kFreeSlot, std::memory_order_release);
}

// ".vms-" and twelve random hex digits: 2^48 names per folder, so neither
// leftovers nor another user can use them all up.
std::string HiddenTempName() {
  static thread_local std::mt19937_64 random{std::random_device{}() ^
                                             (static_cast<uint64_t>(::getpid()) << 32)};
  char name[32];
  std::snprintf(name, sizeof name, ".vms-%012llx.tmp",
                static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
  return name;
}

}  // namespace

TargetFolder::TargetFolder(int root_fd, std::string host_path, bool exact_names)
    : root_fd_(root_fd), host_path_(std::move(host_path)), exact_names_(exact_names) {}

TargetFolder::~TargetFolder() {
  DropBelow();
  if (root_fd_ >= 0) ::close(root_fd_);
}

std::shared_ptr<TargetFolder> TargetFolder::Open(const std::string& windows_folder) {
  host::WindowsPathParts parts = host::ParseFullWindowsPath(windows_folder);
  const std::string full = parts.Render(false);
  const char* setting = std::getenv("VELMORA_PREFIX");
  const std::string key = std::string("w:") + (setting != nullptr ? setting : "") + '\n' +
                          host::FoldCase(full);
  {
    std::lock_guard<std::mutex> lock(TargetsMutex());
    auto kept = KeptTargets().find(key);
    if (kept != KeptTargets().end()) return kept->second;
  }
  std::optional<std::string> host_path = velmora::HostPath(full);
  if (!host_path) return nullptr;
  const bool exact = host::NamesAreExact(parts);
  int fd = ::open(host_path->c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    host::FailMissingAware(*host_path, errno);
    return nullptr;
  }
  std::shared_ptr<TargetFolder> target(new TargetFolder(fd, *host_path, exact));
  std::lock_guard<std::mutex> lock(TargetsMutex());
  KeptTargets()[key] = target;
  return target;
}

std::shared_ptr<TargetFolder> TargetFolder::OpenHost(const std::string& host_folder) {
  const std::string key = "h:" + host_folder;
  {
    std::lock_guard<std::mutex> lock(TargetsMutex());
    auto kept = KeptTargets().find(key);
    if (kept != KeptTargets().end()) return kept->second;
  }
  int fd = ::open(host_folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    host::FailMissingAware(host_folder, errno);
    return nullptr;
  }
  std::shared_ptr<TargetFolder> target(new TargetFolder(fd, host_folder, true));
  std::lock_guard<std::mutex> lock(TargetsMutex());
  KeptTargets()[key] = target;
  return target;
}

void TargetFolder::ForgetAll() {
  std::lock_guard<std::mutex> lock(TargetsMutex());
  KeptTargets().clear();
}

bool TargetFolder::IsStale(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) != 0 || st.st_nlink == 0;
}

void TargetFolder::DropBelow() {
  for (auto& [path, fd] : below_) ::close(fd);
  below_.clear();
  written_.clear();
}

int TargetFolder::Descend(int parent_fd, const std::string& parent_host, const std::string& name,
                          bool create, FolderWalk* result, std::string* actual_name,
                          bool* made) {
  *actual_name = name;
  *made = false;
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
    errno = EINVAL;
    *result = FolderWalk::kFailed;
    return -1;
  }
  int fd = OpenFolderNoFollow(parent_fd, name);
  if (fd >= 0) return fd;
  int err = errno;
  if (err == ENOENT && !exact_names_) {
    // A Windows folder: an existing entry of another case is the one meant
    // (and is held to the same rule: never a link).
    std::optional<std::string> found = host::FindCaseBlind(parent_host, name);
    if (found && *found != name) {
      *actual_name = *found;
      fd = OpenFolderNoFollow(parent_fd, *found);
      if (fd >= 0) return fd;
      err = errno;
      if (err != ENOENT) {
        *result = Classify(parent_fd, *found, err);
        return -1;
      }
      *actual_name = name;
    }
  }
  if (err == ENOENT && create) {
    std::optional<host::FolderChange> change;
    if (!exact_names_) change.emplace(parent_host);
    if (::mkdirat(parent_fd, name.c_str(), 0777) == 0) {
      *made = true;
      if (change) change->Added(name);
    } else if (errno != EEXIST) {
      *result = Classify(parent_fd, name, errno);
      return -1;
    }
    fd = OpenFolderNoFollow(parent_fd, name);
    if (fd >= 0) return fd;
    err = errno;
  }
  *result = Classify(parent_fd, name, err);
  return -1;
}

FolderWalk TargetFolder::OpenBelow(const std::vector<std::string>& components, bool create,
                                   int* fd, std::string* host_folder, size_t* stopped_at) {
  std::lock_guard<std::mutex> lock(mutex_);
  *stopped_at = 0;
  if (below_.size() > kMaxKeptFolders) DropBelow();
  // The longest part of the path that is open already.
  std::vector<std::string> keys(components.size());
  std::string key;
  for (size_t i = 0; i < components.size(); ++i) {
    key += (i == 0 ? "" : "/") + components[i];
    keys[i] = key;
  }
  size_t done = components.size();
  int current = root_fd_;
  while (done > 0) {
    auto kept = below_.find(keys[done - 1]);
    if (kept != below_.end()) {
      current = kept->second;
      break;
    }
    --done;
  }
  // Host paths are built only for messages and case-blind listings.
  std::string host = host_path_;
  for (size_t i = 0; i < done; ++i) host = Join(host, components[i]);
  for (size_t i = done; i < components.size(); ++i) {
    FolderWalk result = FolderWalk::kOpened;
    std::string actual;
    bool made = false;
    int next = Descend(current, host, components[i], create, &result, &actual, &made);
    if (made) made_.insert(keys[i]);
    if (next < 0) {
      // A kept handle of a folder that was removed since: the caller drops
      // the kept handles and walks again from the path.
      if ((result == FolderWalk::kMissing || result == FolderWalk::kFailed) && IsStale(current)) {
        result = FolderWalk::kFailed;
        errno = ESTALE;
      }
      *stopped_at = i;
      *host_folder = Join(host, actual);
      return result;
    }
    host = Join(host, actual);
    below_[keys[i]] = next;
    current = next;
  }
  *fd = current;
  *host_folder = host;
  return FolderWalk::kOpened;
}

std::string TargetFolder::EntryName(const std::string& host_folder, const std::string& name) const {
  if (exact_names_) return name;
  struct stat st {};
  if (::lstat(Join(host_folder, name).c_str(), &st) == 0) return name;
  std::optional<std::string> found = host::FindCaseBlind(host_folder, name);
  return found ? *found : name;
}

bool TargetFolder::NoteWritten(int folder_fd, const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string key =
      std::to_string(folder_fd) + '/' + (exact_names_ ? name : host::FoldCase(name));
  return !written_.insert(std::hash<std::string>{}(key)).second;
}

namespace {

// Guards the folder modes and times that wait for the end of a run.
std::mutex& WaitingSettingsMutex() {
  static std::mutex mutex;
  return mutex;
}

// Folder modes that wait for the end of a run: a handle of the folder of
// its own (the kept ones may be dropped before then) and the mode.
std::vector<std::pair<int, mode_t>>& WaitingModes() {
  static std::vector<std::pair<int, mode_t>> modes;
  return modes;
}

// Folder times that wait for the end of a run: a file written into a
// folder moves its time on, so a folder's stored time holds only once the
// run's last file is in.
struct WaitingTime {
  std::shared_ptr<TargetFolder> target;
  std::vector<std::string> components;
  struct timespec modified;
};
std::vector<WaitingTime>& WaitingTimes() {
  static std::vector<WaitingTime> times;
  return times;
}

// A kept handle is O_PATH, which fchmod refuses; its /proc link names the
// folder itself, never a path that could be swapped for a link.
bool ChmodFolderHandle(int fd, mode_t mode) {
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  return ::fchmodat(AT_FDCWD, link.c_str(), mode, 0) == 0;
}

}  // namespace

void TargetFolder::RestoreFolderMode(const std::vector<std::string>& components, uint32_t mode) {
  std::string key;
  for (const std::string& part : components) key += (key.empty() ? "" : "/") + part;
  int fd = -1;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (made_.count(key) == 0) return;
    auto kept = below_.find(key);
    if (kept == below_.end()) return;
    fd = kept->second;
  }
  const auto bits = static_cast<mode_t>(mode & kFolderPermissionBits);
  if ((bits & S_IRWXU) == S_IRWXU) {
    (void)ChmodFolderHandle(fd, bits);
    return;
  }
  const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (own < 0) return;
  std::lock_guard<std::mutex> lock(WaitingSettingsMutex());
  WaitingModes().emplace_back(own, bits);
}

void TargetFolder::RestoreFolderTime(const std::vector<std::string>& components,
                                     const struct timespec& modified) {
  std::string key;
  for (const std::string& part : components) key += (key.empty() ? "" : "/") + part;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (made_.count(key) == 0) return;
  }
  std::lock_guard<std::mutex> lock(WaitingSettingsMutex());
  WaitingTimes().push_back({shared_from_this(), components, modified});
}

void TargetFolder::ApplyFolderSettings() {
  std::lock_guard<std::mutex> lock(WaitingSettingsMutex());
  // As a date or attribute that cannot be set, a time or mode that cannot
  // be set does not fail the items. Times go first: a mode may shut the
  // way to a folder below. Each folder is walked to again, as every item
  // is, never through a link.
  for (WaitingTime& waiting : WaitingTimes()) {
    int fd = -1;
    std::string host_folder;
    size_t stopped_at = 0;
    if (waiting.target->OpenBelow(waiting.components, false, &fd, &host_folder, &stopped_at) !=
        FolderWalk::kOpened) {
      continue;
    }
    const int folder = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) continue;
    const struct timespec times[2] = {{0, UTIME_OMIT}, waiting.modified};
    (void)::futimens(folder, times);
    ::close(folder);
  }
  WaitingTimes().clear();
  for (const auto& [fd, mode] : WaitingModes()) {
    (void)ChmodFolderHandle(fd, mode);
    ::close(fd);
  }
  WaitingModes().clear();
}

bool NewFileInFolder::Create(int folder_fd) {
  Discard();
  published_ = false;
  folder_fd_ = folder_fd;
  // The kernel applies the umask to 0666 at creation, as for any new file.
  fd_ = ::openat(folder_fd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  if (fd_ >= 0) return true;
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
  // A file system without unnamed files: a hidden name, removed on failure
  // and by the signal handler.
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string name = HiddenTempName();
    fd_ = ::openat(folder_fd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                   0666);
    if (fd_ >= 0) {
      hidden_name_ = name;
      pending_slot_ = ClaimPendingSlot(folder_fd, name);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

bool NewFileInFolder::LinkUnnamed(const std::string& name) {
  // The direct form saves the kernel a walk through /proc per file; it
  // needs CAP_DAC_READ_SEARCH (or a kernel that lets the file's own opener
  // link it). Once refused, every later file goes through /proc at once.
  static std::atomic<bool> direct_refused{false};
  if (!direct_refused.load(std::memory_order_relaxed)) {
    if (::linkat(fd_, "", folder_fd_, name.c_str(), AT_EMPTY_PATH) == 0) return true;
    if (errno != ENOENT && errno != EPERM && errno != EINVAL) return false;
    direct_refused.store(true, std::memory_order_relaxed);
  }
  char proc_path[40];
  std::snprintf(proc_path, sizeof proc_path, "/proc/self/fd/%d", fd_);
  return ::linkat(AT_FDCWD, proc_path, folder_fd_, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

bool NewFileInFolder::Publish(const std::string& name, bool* replaced) {
  *replaced = false;
  if (fd_ < 0) {
    errno = EBADF;
    return false;
  }
  if (hidden_name_.empty()) {
    if (LinkUnnamed(name)) {
      published_ = true;
      return true;
    }
    if (errno != EEXIST) return false;
  } else {
    if (::renameat2(folder_fd_, hidden_name_.c_str(), folder_fd_, name.c_str(),
                    RENAME_NOREPLACE) == 0) {
      published_ = true;
      return true;
    }
    if (errno != EEXIST && errno != EINVAL && errno != ENOSYS) return false;
  }
  // Something is there. A folder stays (renameat refuses it with EISDIR);
  // a file, or a link (the link itself, never what it points to), is
  // replaced in one step, so readers see the old file or the new one.
  struct stat st {};
  if (::fstatat(folder_fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return false;
  }
  if (hidden_name_.empty()) {
    std::string hidden;
    for (int attempt = 0; attempt < 16; ++attempt) {
      hidden = HiddenTempName();
      if (LinkUnnamed(hidden)) break;
      if (errno != EEXIST) return false;
      hidden.clear();
    }
    if (hidden.empty()) return false;
    hidden_name_ = hidden;
    pending_slot_ = ClaimPendingSlot(folder_fd_, hidden);
  }
  if (::renameat(folder_fd_, hidden_name_.c_str(), folder_fd_, name.c_str()) != 0) return false;
  *replaced = true;
  published_ = true;
  return true;
}

void NewFileInFolder::Discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!hidden_name_.empty() && !published_) (void)::unlinkat(folder_fd_, hidden_name_.c_str(), 0);
  hidden_name_.clear();
  ReleasePendingSlot(pending_slot_);
  pending_slot_ = -1;
}

void RemovePendingTempFiles() {
  for (auto& slot : g_pending) {
    int folder_fd = slot.folder_fd.exchange(kFreeSlot, std::memory_order_acq_rel);
    if (folder_fd != kFreeSlot) (void)::unlinkat(folder_fd, slot.name, 0);
  }
}

int NotePendingTempFile(const std::string& host_path) {
  return ClaimPendingSlot(AT_FDCWD, host_path);
}

void ForgetPendingTempFile(int token) { ReleasePendingSlot(token); }

}  // namespace velmora
