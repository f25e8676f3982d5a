// Directory tests and creation on Windows paths.
#pragma once

#include <string>

namespace velmora {

// Paths are limited to 259 characters, the Windows limit: a longer one is
// never a directory, and ForceDirectoryTree refuses it.
constexpr size_t kMaxPathLength = 259;

// Whether Path names an existing directory. A mask ("C:\*") never does, even
// when what it would match exists; a path whose attributes cannot be read
// does not either.
bool IsDirectory(const std::string& Path);

// Makes every missing directory along Path, outermost first (see
// DirectoryTreePrefixes). A creation that fails raises EInOutError with the
// OS error code; the directories made before it stay. A path of more than
// kMaxPathLength characters raises EInOutError 206 (name too long) before
// anything is made.
void ForceDirectoryTree(const std::string& Path);

}  // namespace velmora
