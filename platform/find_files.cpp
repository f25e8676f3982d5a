// Directory search: FindFirstFileA / FindNextFileA / FindClose. The last
// part of the pattern may hold "*" and "?", matched without regard to case;
// the matches are read at once and handed out in case-blind name order
// (NTFS lists names sorted too), so no folder stays open between calls.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/host_files.h"
#include "platform/paths.h"
#include "platform/win32.h"

namespace velmora {

namespace {

struct FindState {
  std::string host_folder;
  std::vector<std::string> names;
  size_t next = 0;
};

std::mutex& SearchesMutex() {
  static std::mutex mutex;
  return mutex;
}

std::map<HANDLE, std::unique_ptr<FindState>>& Searches() {
  static std::map<HANDLE, std::unique_ptr<FindState>> searches;
  return searches;
}

// Search handles are kept apart from descriptors, so a mixed-up
// CloseHandle cannot close one by chance.
HANDLE NewSearchHandle() {
  static std::atomic<HANDLE> next{0x40000000};
  return next++;
}

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Glob match of folded texts: "*" any run, "?" one character (one UTF-8
// sequence), everything else itself. Backtracks only to the latest "*",
// which is enough for globs and keeps the match linear in practice.
bool Matches(const std::string& name, const std::string& pattern) {
  size_t n = 0, p = 0;
  size_t star = std::string::npos, star_name = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '?') {
      ++n;
      while (n < name.size() && IsContinuationByte(name[n])) ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      star_name = n;
    } else if (p < pattern.size() && pattern[p] == name[n]) {
      ++n;
      ++p;
    } else if (star != std::string::npos) {
      p = star + 1;
      n = ++star_name;
      while (n < name.size() && IsContinuationByte(name[n])) n = ++star_name;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool FillFindData(const std::string& folder, const std::string& name, WIN32_FIND_DATAA* data) {
  std::string path = folder == "/" ? "/" + name : folder + "/" + name;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 && ::lstat(path.c_str(), &st) != 0) return false;
  data->dwFileAttributes = host::AttributesOf(path, st);
  // No settable creation time on Linux: the modification time stands in.
  data->ftCreationTime = host::FileTimeFromTimespec(st.st_mtim);
  data->ftLastAccessTime = host::FileTimeFromTimespec(st.st_atim);
  data->ftLastWriteTime = host::FileTimeFromTimespec(st.st_mtim);
  auto size = S_ISDIR(st.st_mode) ? uint64_t{0} : static_cast<uint64_t>(st.st_size);
  data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(size);
  data->cFileName = name;
  return true;
}

// Hands out the next entry that can still be read; false at the end.
bool Advance(FindState& state, WIN32_FIND_DATAA* data) {
  while (state.next < state.names.size()) {
    const std::string& name = state.names[state.next++];
    if (FillFindData(state.host_folder, name, data)) return true;
  }
  return false;
}

// Gives a search its handle, for FindNextFileA and FindClose.
HANDLE KeepSearch(std::unique_ptr<FindState> state) {
  HANDLE handle = NewSearchHandle();
  std::lock_guard<std::mutex> lock(SearchesMutex());
  Searches()[handle] = std::move(state);
  SetLastError(ERROR_SUCCESS);
  return handle;
}

}  // namespace

HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data) {
  if (pattern == nullptr || data == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string text = pattern;
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  host::WindowsPathParts full = host::ParseFullWindowsPath(text);
  if (full.Render(false).size() >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  size_t split = text.find_last_of("\\:");
  std::string folder_text = split == std::string::npos ? "." : text.substr(0, split + 1);
  std::string name_pattern = split == std::string::npos ? text : text.substr(split + 1);
  if (name_pattern.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::optional<std::string> folder = HostPath(folder_text);
  if (!folder) return INVALID_HANDLE_VALUE;
  // One name in a folder of host names (Z:): the file itself, without
  // reading the whole folder (an archive beside thousands of others).
  const bool one_name = name_pattern.find_first_of("*?") == std::string::npos &&
                        name_pattern != "." && name_pattern != "..";
  if (one_name && host::NamesAreExact(host::ParseFullWindowsPath(folder_text)) &&
      FillFindData(*folder, name_pattern, data)) {
    auto state = std::make_unique<FindState>();
    state->host_folder = *folder;
    state->names.push_back(name_pattern);
    state->next = 1;
    return KeepSearch(std::move(state));
  }
  DIR* dir = ::opendir(folder->c_str());
  if (dir == nullptr) {
    SetLastError(errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  // "*.*" matches names without a dot too, as on Windows.
  std::string wanted = name_pattern == "*.*" ? "*" : host::FoldCase(name_pattern);
  // Windows lists "." and ".." in every folder but a drive's root.
  bool at_root = host::ParseFullWindowsPath(folder_text).components.empty();
  auto state = std::make_unique<FindState>();
  state->host_folder = *folder;
  std::vector<std::pair<std::string, std::string>> matches;  // folded, name
  while (struct dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (at_root && (name == "." || name == "..")) continue;
    std::string folded = host::FoldCase(name);
    if (Matches(folded, wanted)) matches.emplace_back(std::move(folded), std::move(name));
  }
  ::closedir(dir);
  std::sort(matches.begin(), matches.end());
  for (auto& match : matches) state->names.push_back(std::move(match.second));
  if (!Advance(*state, data)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return KeepSearch(std::move(state));
}

bool FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) {
  if (data == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  std::lock_guard<std::mutex> lock(SearchesMutex());
  auto it = Searches().find(find);
  if (it == Searches().end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (!Advance(*it->second, data)) {
    SetLastError(ERROR_NO_MORE_FILES);
    return false;
  }
  return true;
}

bool FindClose(HANDLE find) {
  std::lock_guard<std::mutex> lock(SearchesMutex());
  if (Searches().erase(find) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return true;
}

}  // namespace velmora
