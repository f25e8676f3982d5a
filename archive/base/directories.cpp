#include "archive/base/directories.h"

#include "archive/base/path_names.h"
#include "platform/win32.h"
#include "rtl/exceptions.h"

namespace velmora {

bool IsDirectory(const std::string& Path) {
  if (Path.find_first_of("*?") != std::string::npos) return false;
  if (Path.size() > kMaxPathLength) return false;
  const DWORD attributes = GetFileAttributesA(Path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void ForceDirectoryTree(const std::string& Path) {
  if (IsDirectory(Path)) return;
  if (Path.size() > kMaxPathLength) {
    throw EInOutError(static_cast<int32_t>(ERROR_FILENAME_EXCED_RANGE));
  }
  for (const std::string& prefix : DirectoryTreePrefixes(Path)) {
    if (IsDirectory(prefix)) continue;
    if (!CreateDirectoryA(prefix.c_str(), nullptr)) {
      throw EInOutError(static_cast<int32_t>(GetLastError()));
    }
  }
}

}  // namespace velmora
