// Windows paths on the host: the prefix with its drive links, the textual
// full-path rules shared with GetFullPathNameA, and the case-blind lookup
// that turns a Windows path into a host path.
#include "platform/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/host_files.h"
#include "platform/win32.h"

namespace velmora {

namespace {

std::string JoinHost(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// Resolves "." and ".." and doubled slashes by text; the result is absolute
// when the input was.
std::string NormalizeHost(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(std::move(part));
    }
    start = end + 1;
  }
  std::string out;
  for (const auto& part : parts) out += "/" + part;
  return out.empty() ? "/" : out;
}

std::string CurrentHostFolder() {
  std::vector<char> buffer(PATH_MAX);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return "/";
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return home;
  std::vector<char> buffer(16384);
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr && found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return "/tmp";
}

void MakeFolders(const std::string& path) {
  // mkdir -p: every level, ignoring the ones that are there.
  for (size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
    std::string level = slash == std::string::npos ? path : path.substr(0, slash);
    ::mkdir(level.c_str(), 0777);
    if (slash == std::string::npos) break;
  }
}

void MakeLinkIfMissing(const std::string& target, const std::string& link) {
  struct stat st {};
  if (::lstat(link.c_str(), &st) != 0 && errno == ENOENT) {
    // A second process may make it at the same moment; EEXIST is fine.
    (void)::symlink(target.c_str(), link.c_str());
  }
}

// Lays out a prefix as Wine does: drive_c, and dosdevices with c: and z:.
// Failures are not reported here: the calls that use the prefix then fail
// with the file system's own error.
void MakePrefix(const std::string& prefix) {
  MakeFolders(prefix + "/dosdevices");
  ::mkdir((prefix + "/drive_c").c_str(), 0777);
  MakeLinkIfMissing("../drive_c", prefix + "/dosdevices/c:");
  MakeLinkIfMissing("/", prefix + "/dosdevices/z:");
}

// One component under an existing folder: the exact name when it exists,
// else the first entry (in byte order, so the choice is stable) that
// matches without regard to case, else the name as given. Once a component
// does not exist, nothing below it can, so looking stops.
std::string LookUpComponent(const std::string& folder, const std::string& name, bool* looking) {
  if (!*looking) return name;
  struct stat st {};
  if (::lstat(JoinHost(folder, name).c_str(), &st) == 0) return name;
  if (errno != ENOENT) {
    *looking = false;
    return name;
  }
  // A kept listing may name an entry that another process has removed
  // since: checked, and read afresh once when it is gone.
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::optional<std::string> found = host::FindCaseBlind(folder, name);
    if (!found) break;
    if (::lstat(JoinHost(folder, *found).c_str(), &st) == 0) return *found;
    host::ForgetListing(folder);
  }
  *looking = false;
  return name;
}

void AppendComponents(std::vector<std::string>& components, const std::string& text) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\\', start);
    if (end == std::string::npos) end = text.size();
    std::string part = text.substr(start, end - start);
    if (part == "..") {
      if (!components.empty()) components.pop_back();
    } else if (!part.empty() && part != ".") {
      components.push_back(std::move(part));
    }
    start = end + 1;
  }
}

host::WindowsPathParts CurrentFolderParts() {
  host::WindowsPathParts parts;
  parts.root = "Z:";
  std::string cwd = CurrentHostFolder();
  size_t start = 0;
  while (start <= cwd.size()) {
    size_t end = cwd.find('/', start);
    if (end == std::string::npos) end = cwd.size();
    if (end > start) parts.components.push_back(cwd.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

bool IsDriveLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

// The prefix folder the settings name; laid out first when make is set.
std::string ChosenPrefix(bool make) {
  static std::mutex mutex;
  static bool known = false;
  static std::string known_setting;
  static std::string prefix;
  const char* env = std::getenv("VELMORA_PREFIX");
  std::string setting = env != nullptr ? env : "";

  std::lock_guard<std::mutex> lock(mutex);
  // Tests point VELMORA_PREFIX at a fresh folder per fixture, so a change of
  // the variable is noticed, and a prefix removed under us is made again.
  if (!known || setting != known_setting) {
    std::string chosen = setting.empty() ? HomeFolder() + "/.velmora" : setting;
    if (chosen.front() != '/') chosen = JoinHost(CurrentHostFolder(), chosen);
    prefix = NormalizeHost(chosen);
    known_setting = setting;
    known = true;
  }
  struct stat st {};
  if (make && (::stat((prefix + "/dosdevices").c_str(), &st) != 0 ||
               ::lstat((prefix + "/dosdevices/c:").c_str(), &st) != 0)) {
    MakePrefix(prefix);
  }
  return prefix;
}

}  // namespace

std::string VelmoraPrefix() { return ChosenPrefix(true); }

namespace host {

std::string WindowsPathParts::Render(bool keep_trailing_separator) const {
  std::string out = root;
  if (components.empty()) {
    if (!unc || trailing_separator) out += "\\";
    return out;
  }
  for (const auto& component : components) out += "\\" + component;
  if (keep_trailing_separator && trailing_separator) out += "\\";
  return out;
}

WindowsPathParts ParseFullWindowsPath(const std::string& path) {
  std::string text = path;
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  WindowsPathParts out;
  std::string rest;
  if (text.size() >= 2 && text[0] == '\\' && text[1] == '\\') {
    // \\server\share\rest: the server and share form the root.
    out.unc = true;
    size_t server_end = text.find('\\', 2);
    if (server_end == std::string::npos) server_end = text.size();
    size_t share_end =
        server_end < text.size() ? text.find('\\', server_end + 1) : std::string::npos;
    if (share_end == std::string::npos) share_end = text.size();
    out.root = text.substr(0, share_end);
    rest = text.substr(share_end);
  } else if (text.size() >= 2 && IsDriveLetter(text[0]) && text[1] == ':') {
    out.root = text.substr(0, 2);
    rest = text.substr(2);
    if (rest.empty() || rest[0] != '\\') {
      // "c:name" is relative to the current folder when that lies on the
      // same drive, else to the drive's root.
      WindowsPathParts current = CurrentFolderParts();
      if (std::toupper(static_cast<unsigned char>(current.root[0])) ==
          std::toupper(static_cast<unsigned char>(text[0]))) {
        out.components = current.components;
      }
    }
  } else {
    WindowsPathParts current = CurrentFolderParts();
    out.root = current.root;
    if (text.empty() || text[0] != '\\') out.components = current.components;
    rest = text;
  }
  AppendComponents(out.components, rest);
  out.trailing_separator = !rest.empty() && rest.back() == '\\';
  return out;
}

bool NamesAreExact(const WindowsPathParts& path) {
  if (path.unc || path.root.empty()) return true;
  const std::optional<std::string> drive_root = DriveHostRoot(path.root[0]);
  if (!drive_root) return true;
  // Only its name is compared: the prefix need not be laid out for that.
  const std::string prefix = ChosenPrefix(false);
  return !(*drive_root == prefix || drive_root->compare(0, prefix.size() + 1, prefix + "/") == 0);
}

namespace {

// The drives as last read from a prefix's dosdevices folder, kept while
// that folder is the same one, unchanged: every path converted asks for
// its drive's root, and reading the link costs four system calls where
// the folder's stat costs one. A folder changed so recently that a second
// change could share its time stamp is read afresh each time.
struct KnownDrives {
  std::string devices;
  dev_t device = 0;
  ino_t inode = 0;
  struct timespec modified {};
  struct timespec changed {};
  std::map<char, std::optional<std::string>> roots;  // by lower-case letter
};

bool SameFolder(const KnownDrives& known, const std::string& devices, const struct stat& st) {
  return known.devices == devices && known.device == st.st_dev && known.inode == st.st_ino &&
         known.modified.tv_sec == st.st_mtim.tv_sec &&
         known.modified.tv_nsec == st.st_mtim.tv_nsec &&
         known.changed.tv_sec == st.st_ctim.tv_sec && known.changed.tv_nsec == st.st_ctim.tv_nsec;
}

std::mutex& KnownDrivesMutex() {
  static std::mutex mutex;
  return mutex;
}

KnownDrives& Known() {
  static KnownDrives known;
  return known;
}

std::optional<std::string> ReadDriveLink(const std::string& devices, char letter) {
  char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
  char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  for (char name : {lower, upper}) {
    std::string entry = devices + name + ":";
    std::vector<char> target(PATH_MAX + 1);
    ssize_t n = ::readlink(entry.c_str(), target.data(), target.size() - 1);
    if (n > 0) {
      std::string link(target.data(), static_cast<size_t>(n));
      return NormalizeHost(link.front() == '/' ? link : devices + link);
    }
    struct stat st {};
    if (errno == EINVAL && ::stat(entry.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      return entry;  // a folder standing in for a link
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> DriveHostRoot(char letter) {
  // Z: is the host's root until a prefix exists to say otherwise: reaching
  // host files makes no prefix, so a tool that reads and writes only those
  // (vunzip) leaves none behind.
  const std::string devices = ChosenPrefix(false) + "/dosdevices/";
  const char key = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
  struct stat made {};
  const bool present = ::stat(devices.c_str(), &made) == 0;
  if (!present && key == 'z') return std::string("/");
  const bool settled =
      present && !ChangedTooRecently(made.st_mtim) && !ChangedTooRecently(made.st_ctim);
  if (settled) {
    std::lock_guard<std::mutex> lock(KnownDrivesMutex());
    KnownDrives& known = Known();
    if (SameFolder(known, devices, made)) {
      if (auto kept = known.roots.find(key); kept != known.roots.end()) return kept->second;
    }
  }
  // Lays the prefix out where it is missing, then reads the link.
  const std::string made_devices = VelmoraPrefix() + "/dosdevices/";
  std::optional<std::string> root = ReadDriveLink(made_devices, letter);
  // Kept under the stat taken before the link was read: a change since
  // leaves a folder that no longer matches it.
  if (settled && made_devices == devices) {
    std::lock_guard<std::mutex> lock(KnownDrivesMutex());
    KnownDrives& known = Known();
    if (!SameFolder(known, devices, made)) {
      known = KnownDrives{devices, made.st_dev, made.st_ino, made.st_mtim, made.st_ctim, {}};
    }
    known.roots[key] = root;
  }
  return root;
}

std::string HostParent(const std::string& host_path) {
  auto slash = host_path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return host_path.substr(0, slash);
}

std::string HostBaseName(const std::string& host_path) {
  auto slash = host_path.find_last_of('/');
  return slash == std::string::npos ? host_path : host_path.substr(slash + 1);
}

std::optional<std::string> ResolveOrFail(const char* windows_path) {
  if (windows_path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return std::nullopt;
  }
  return HostPath(windows_path);
}

}  // namespace host

std::optional<std::string> HostPath(const std::string& windows_path) {
  if (windows_path.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return std::nullopt;
  }
  host::WindowsPathParts parts = host::ParseFullWindowsPath(windows_path);
  if (parts.unc) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return std::nullopt;
  }
  // The Windows limit: a full path of at most MAX_PATH - 1 characters.
  if (parts.Render(false).size() >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return std::nullopt;
  }
  std::optional<std::string> root = host::DriveHostRoot(parts.root[0]);
  if (!root) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return std::nullopt;
  }
  std::string path = *root;
  // A path that exists as named is the one the walk below would find, each
  // component as it is, in one system call instead of one per component.
  std::string exact = path;
  for (const auto& component : parts.components) exact = JoinHost(exact, component);
  struct stat st {};
  if (::lstat(exact.c_str(), &st) == 0) return exact;
  bool looking = true;
  for (const auto& component : parts.components) {
    path = JoinHost(path, LookUpComponent(path, component, &looking));
  }
  return path;
}

std::string WindowsPath(const std::string& host_path) {
  std::string absolute =
      !host_path.empty() && host_path.front() == '/' ? host_path
                                                     : JoinHost(CurrentHostFolder(), host_path);
  std::string out = "Z:" + NormalizeHost(absolute);
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

std::string ProgramFileName() {
  std::vector<char> target(PATH_MAX + 1);
  ssize_t n = ::readlink("/proc/self/exe", target.data(), target.size() - 1);
  if (n <= 0) return "";
  return WindowsPath(std::string(target.data(), static_cast<size_t>(n)));
}

}  // namespace velmora
