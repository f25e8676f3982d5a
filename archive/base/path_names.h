// Windows path names as text: no file system involved. Positions are counts
// of characters, as the callers use them to cut prefixes.
#pragma once

#include <string>
#include <vector>

namespace velmora {

// The length of the text in front of the N-th "\" of Path (N >= 1); the
// length of Path when it has fewer than N backslashes.
int BackslashPosition(const std::string& Path, int N);

// 2: a full path (holds "\\" or ":"); 1: a relative path with a folder
// (holds "\" or "/"); 0: a bare name.
int PathKind(const std::string& Path);

// "C:\dir\sub\file.txt" -> "C:", "dir\sub\", "file.txt";
// "\\srv\share\d\f.txt" -> "\\srv\share", "d\", "f.txt".
void SplitPath(const std::string& Path, std::string& Drive, std::string& Directory,
               std::string& Name);

// The prefixes of Path that ForceDirectoryTree makes, outermost first: cut
// at the 2nd, 3rd, ... backslash ("C:\a" of "C:\a\b"), or from the 5th on for
// a UNC path, whose first four backslashes belong to the server and share.
// The last is Path itself.
std::vector<std::string> DirectoryTreePrefixes(const std::string& Path);

// ZIP stores names with "/", Windows wants "\".
void SlashesToBackslashes(std::string& Path);

}  // namespace velmora
