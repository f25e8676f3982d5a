#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/paths.h"
#include "platform/registry_file.h"
#include "rtl/exceptions.h"

namespace velmora {
namespace {

constexpr const char* kMachineRoot = "HKEY_LOCAL_MACHINE";
constexpr LONG ERROR_KEY_DELETED = 1018;
constexpr REGSAM kWriteAccess = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK |
                                0x10000 /* DELETE */ | 0x40000 /* WRITE_DAC */ |
                                0x80000 /* WRITE_OWNER */;

struct OpenKey {
  std::string path;
  REGSAM sam = 0;
};

std::mutex g_keys_mutex;
std::map<HKEY, OpenKey> g_keys;
HKEY g_next_key = 1;

// Closes a descriptor when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

// FILETIME ticks between 1601 and 1970: Wine stamps keys in FILETIME.
constexpr uint64_t kTicks1601To1970 = 116444736000000000ULL;

uint64_t NowInFileTimeTicks() {
  auto since_1970 = std::chrono::system_clock::now().time_since_epoch();
  auto ticks = std::chrono::duration_cast<std::chrono::duration<int64_t, std::ratio<1, 10000000>>>(
      since_1970);
  return kTicks1601To1970 + static_cast<uint64_t>(ticks.count());
}

// The machine hive in the form its file has: Wine's own when Wine made the
// prefix, REGEDIT4 otherwise and for a fresh prefix (no file, or an empty
// one). Paths are full, "HKEY_LOCAL_MACHINE\Software\Vendor".
class MachineHive {
 public:
  static std::optional<MachineHive> Parse(std::string_view text) {
    MachineHive hive;
    if (regfile::WineHive::IsWineHive(text)) {
      hive.wine_ = regfile::WineHive::Parse(text);
      if (!hive.wine_) return std::nullopt;
      return hive;
    }
    auto parsed = regfile::ParseHive(text);
    if (!parsed) return std::nullopt;
    hive.regedit_ = std::move(*parsed);
    return hive;
  }

  bool IsWine() const { return wine_.has_value(); }

  bool KeyExists(const std::string& path) const {
    return wine_ ? wine_->KeyExists(Relative(path)) : regedit_.KeyExists(path);
  }

  std::optional<regfile::Value> QueryValue(const std::string& path, const std::string& name) {
    if (wine_) return wine_->QueryValue(Relative(path), name);
    regfile::Key* key = regedit_.FindKey(path);
    regfile::Value* value = key ? key->FindValue(name) : nullptr;
    if (!value) return std::nullopt;
    return *value;
  }

  void AddKey(const std::string& path) {
    if (wine_) {
      wine_->AddKey(Relative(path), NowInFileTimeTicks());
    } else {
      regedit_.AddKey(path);
    }
  }

  void SetValue(const std::string& path, regfile::Value value) {
    if (wine_) {
      wine_->SetValue(Relative(path), value, NowInFileTimeTicks());
      return;
    }
    // The key may have gone from the file since it was opened (edited by
    // hand); writing a value brings it back, as an import would.
    regfile::Key* target = regedit_.FindKey(path);
    if (!target) target = &regedit_.AddKey(path);
    target->SetValue(std::move(value));
  }

  std::string Format() const { return wine_ ? wine_->Format() : regfile::FormatHive(regedit_); }

 private:
  // Wine's file names keys from the root it holds.
  static std::string_view Relative(std::string_view path) {
    path.remove_prefix(std::min(path.size(), std::string_view(kMachineRoot).size()));
    if (!path.empty() && path.front() == '\\') path.remove_prefix(1);
    return path;
  }

  std::optional<regfile::WineHive> wine_;
  regfile::Hive regedit_;
};

bool ReadAll(int fd, std::string& text) {
  text.clear();
  char buffer[16384];
  while (true) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    text.append(buffer, static_cast<size_t>(n));
  }
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Opens the hive file and takes the lock on it. A writer replaces the file
// by rename, so a lock taken on a file that was replaced meanwhile is taken
// again on the new one. ENOENT leaves fd at -1 when not creating.
LONG OpenLocked(const std::string& path, bool for_write, Fd& fd) {
  while (true) {
    int flags = for_write ? (O_RDWR | O_CREAT) : O_RDONLY;
    fd.reset(::open(path.c_str(), flags | O_CLOEXEC, 0644));
    if (fd.get() < 0) {
      if (!for_write && errno == ENOENT) return ERROR_SUCCESS;
      if (errno == EACCES || errno == EROFS || errno == EPERM) return ERROR_ACCESS_DENIED;
      return for_write ? ERROR_CANTWRITE : ERROR_CANTREAD;
    }
    while (::flock(fd.get(), for_write ? LOCK_EX : LOCK_SH) != 0) {
      if (errno != EINTR) return ERROR_CANTREAD;
    }
    struct stat locked {}, current {};
    if (::fstat(fd.get(), &locked) != 0) return ERROR_CANTREAD;
    if (::stat(path.c_str(), &current) == 0 && current.st_ino == locked.st_ino &&
        current.st_dev == locked.st_dev) {
      return ERROR_SUCCESS;
    }
  }
}

// Reads and parses the hive under a shared lock; a missing file is empty.
LONG LoadHive(std::optional<MachineHive>& hive) {
  Fd fd;
  LONG result = OpenLocked(MachineHivePath(), false, fd);
  if (result != ERROR_SUCCESS) return result;
  std::string text;
  if (fd.get() >= 0 && !ReadAll(fd.get(), text)) return ERROR_CANTREAD;
  hive = MachineHive::Parse(text);
  return hive ? ERROR_SUCCESS : ERROR_BADDB;
}

// Whether some process holds a lock on the file (never this one: it takes
// no such lock).
bool LockHeld(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (fd.get() < 0) return false;
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  return ::fcntl(fd.get(), F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

// The folders a wineserver for the prefix would keep its socket and lock
// in: Wine's own /tmp/.wine-<uid>, and, as Debian's Wine makes it, a
// folder of $TMPDIR (else /tmp) whose name the prefix's file "wineserver"
// holds. In each, the server's folder is server-<device>-<inode>, the
// prefix folder's numbers in hex.
std::vector<std::string> WineServerFolders(const std::string& prefix) {
  struct stat st {};
  if (::stat(prefix.c_str(), &st) != 0) return {};
  char server[64];
  std::snprintf(server, sizeof server, "/server-%llx-%llx",
                static_cast<unsigned long long>(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  std::vector<std::string> roots = {"/tmp/.wine-" + std::to_string(::getuid())};
  Fd named(::open((prefix + "/wineserver").c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  std::string name;
  if (named.get() >= 0 && ReadAll(named.get(), name)) {
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
    // A bare folder name, nothing that could lead elsewhere.
    if (!name.empty() && name.size() < 256 && name.find('/') == std::string::npos &&
        name != "." && name != "..") {
      const char* tmpdir = std::getenv("TMPDIR");
      if (tmpdir && *tmpdir) roots.push_back(std::string(tmpdir) + "/" + name);
      roots.push_back("/tmp/" + name);
    }
  }
  for (auto& root : roots) root += server;
  return roots;
}

// wineserver holds the prefix's registry in memory while it runs and saves
// it over system.reg, now and then and when it ends: a change written
// meanwhile would be lost without a word. It holds a lock on "lock" in its
// folder for as long as it runs.
void RefuseWhileWineRuns() {
  const std::string prefix = VelmoraPrefix();
  for (const auto& folder : WineServerFolders(prefix)) {
    if (LockHeld(folder + "/lock")) {
      throw Exception("Wine must be closed first: it is running for the prefix " + prefix +
                      " and would overwrite this change to its registry. Quit the programs "
                      "running in Wine (or run WINEPREFIX=\"" + prefix +
                      "\" wineserver -k), then try again.");
    }
  }
}

// Writes text to a fresh file beside path, flushes it and renames it over
// path, so readers see the old hive or the new one, never a part.
bool ReplaceFile(const std::string& path, const std::string& text, mode_t mode) {
  std::string temp = path + ".XXXXXX";
  Fd fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (fd.get() < 0) return false;
  bool ok = ::fchmod(fd.get(), mode) == 0 && WriteAll(fd.get(), text) && ::fsync(fd.get()) == 0;
  fd.reset(-1);
  if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  // The rename itself is on disk once the folder is.
  Fd folder(::open(VelmoraPrefix().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() >= 0) ::fsync(folder.get());
  return true;
}

// Read, change, write under the exclusive lock. change returns a result
// code; nothing is written unless it succeeds and reports a change.
LONG UpdateHive(const std::function<LONG(MachineHive&, bool& changed)>& change) {
  const std::string path = MachineHivePath();
  Fd fd;
  LONG result = OpenLocked(path, true, fd);
  if (result != ERROR_SUCCESS) return result;
  // Checked again here, where nothing is written yet: Wine may have been
  // started since the key was opened.
  RefuseWhileWineRuns();
  std::string text;
  if (!ReadAll(fd.get(), text)) return ERROR_CANTREAD;
  auto hive = MachineHive::Parse(text);
  if (!hive) return ERROR_BADDB;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return ERROR_CANTREAD;
  // A read-only hive stays as it is, for root too.
  if ((st.st_mode & 0222) == 0) return ERROR_ACCESS_DENIED;
  bool changed = false;
  result = change(*hive, changed);
  if (result != ERROR_SUCCESS || !changed) return result;
  mode_t mode = st.st_mode & 07777;
  return ReplaceFile(path, hive->Format(), mode) ? ERROR_SUCCESS : ERROR_CANTWRITE;
}

// Whether a change could be written now: the hive file, when there is one,
// is writable and not read-only (no write bits binds root too, like the
// read-only attribute on Windows), and the prefix folder takes new files.
bool HiveWritable() {
  const std::string path = MachineHivePath();
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if ((st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0) return false;
  } else if (errno != ENOENT) {
    return false;
  }
  std::string probe = path + ".XXXXXX";
  int fd = ::mkostemp(probe.data(), O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

bool HasWriteAccess(REGSAM sam) { return (sam & kWriteAccess) != 0; }

// The key a handle stands for; false for an unknown handle.
bool LookUp(HKEY key, OpenKey& out) {
  if (key == HKEY_LOCAL_MACHINE) {
    out = OpenKey{kMachineRoot, KEY_ALL_ACCESS};
    return true;
  }
  std::lock_guard lock(g_keys_mutex);
  auto it = g_keys.find(key);
  if (it == g_keys.end()) return false;
  out = it->second;
  return true;
}

HKEY AddHandle(std::string path, REGSAM sam) {
  std::lock_guard lock(g_keys_mutex);
  HKEY handle = g_next_key++;
  g_keys[handle] = OpenKey{std::move(path), sam};
  return handle;
}

// base + "\" + sub_key, with a trailing "\" dropped. Null when sub_key
// cannot be a key name (an empty part, a leading "\", a line break).
std::optional<std::string> SubKeyPath(const std::string& base, const char* sub_key) {
  std::string sub = sub_key ? sub_key : "";
  if (!sub.empty() && sub.back() == '\\') sub.pop_back();
  if (sub.empty()) return base;
  if (!regfile::QuotableText(sub) || sub.front() == '\\' || sub.find("\\\\") != std::string::npos) {
    return std::nullopt;
  }
  return base + "\\" + sub;
}

// The common part of opening and creating: resolve, parse, check access.
LONG PrepareOpen(HKEY key, const char* sub_key, REGSAM sam, HKEY* result, std::string& path,
                 std::optional<MachineHive>& hive) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = 0;
  OpenKey base;
  if (!LookUp(key, base)) return ERROR_INVALID_HANDLE;
  auto full = SubKeyPath(base.path, sub_key);
  if (!full) return ERROR_INVALID_PARAMETER;
  path = std::move(*full);
  if (LONG loaded = LoadHive(hive); loaded != ERROR_SUCCESS) return loaded;
  if (HasWriteAccess(sam)) {
    RefuseWhileWineRuns();
    if (!HiveWritable()) return ERROR_ACCESS_DENIED;
  }
  return ERROR_SUCCESS;
}

}  // namespace

std::string MachineHivePath() { return VelmoraPrefix() + "/system.reg"; }

LONG RegCreateKeyExA(HKEY key, const char* sub_key, DWORD /*reserved*/, char* /*key_class*/,
                     DWORD /*options*/, REGSAM sam, void* /*security_attributes*/, HKEY* result,
                     DWORD* disposition) {
  std::string path;
  std::optional<MachineHive> hive;
  if (LONG prepared = PrepareOpen(key, sub_key, sam, result, path, hive);
      prepared != ERROR_SUCCESS) {
    return prepared;
  }
  bool created = false;
  if (!hive->KeyExists(path)) {
    LONG written = UpdateHive([&](MachineHive& latest, bool& changed) {
      if (!latest.KeyExists(path)) {
        latest.AddKey(path);
        changed = created = true;
      }
      return ERROR_SUCCESS;
    });
    if (written != ERROR_SUCCESS) return written;
  }
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = AddHandle(std::move(path), sam);
  return ERROR_SUCCESS;
}

LONG RegOpenKeyExA(HKEY key, const char* sub_key, DWORD /*options*/, REGSAM sam, HKEY* result) {
  std::string path;
  std::optional<MachineHive> hive;
  if (LONG prepared = PrepareOpen(key, sub_key, sam, result, path, hive);
      prepared != ERROR_SUCCESS) {
    return prepared;
  }
  if (path != kMachineRoot && !hive->KeyExists(path)) return ERROR_FILE_NOT_FOUND;
  *result = AddHandle(std::move(path), sam);
  return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, const char* value_name, DWORD /*reserved*/, DWORD type,
                    const BYTE* data, DWORD data_size) {
  OpenKey open;
  if (!LookUp(key, open)) return ERROR_INVALID_HANDLE;
  if ((open.sam & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  std::string name = value_name ? value_name : "";
  if (!regfile::QuotableText(name) || (data == nullptr && data_size > 0)) {
    return ERROR_INVALID_PARAMETER;
  }
  regfile::Value value{name, type, {}};
  if (data_size > 0) value.data.assign(data, data + data_size);
  return UpdateHive([&](MachineHive& hive, bool& changed) {
    // Wine's file holds no values at its root.
    if (hive.IsWine() && open.path == kMachineRoot) return ERROR_ACCESS_DENIED;
    hive.SetValue(open.path, std::move(value));
    changed = true;
    return ERROR_SUCCESS;
  });
}

LONG RegQueryValueExA(HKEY key, const char* value_name, DWORD* /*reserved*/, DWORD* type,
                      BYTE* data, DWORD* data_size) {
  OpenKey open;
  if (!LookUp(key, open)) return ERROR_INVALID_HANDLE;
  if ((open.sam & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  if (data != nullptr && data_size == nullptr) return ERROR_INVALID_PARAMETER;
  std::optional<MachineHive> hive;
  if (LONG loaded = LoadHive(hive); loaded != ERROR_SUCCESS) return loaded;
  if (open.path != kMachineRoot && !hive->KeyExists(open.path)) return ERROR_KEY_DELETED;
  auto value = hive->QueryValue(open.path, value_name ? value_name : "");
  if (!value) return ERROR_FILE_NOT_FOUND;
  if (type) *type = value->type;
  DWORD size = static_cast<DWORD>(value->data.size());
  if (data_size == nullptr) return ERROR_SUCCESS;
  DWORD room = *data_size;
  *data_size = size;
  if (data == nullptr) return ERROR_SUCCESS;
  if (room < size) return ERROR_MORE_DATA;
  if (size > 0) std::memcpy(data, value->data.data(), size);
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  if (key >= HKEY_CLASSES_ROOT && key <= HKEY_USERS) return ERROR_SUCCESS;
  std::lock_guard lock(g_keys_mutex);
  return g_keys.erase(key) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // namespace velmora
