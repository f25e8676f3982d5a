#include "archive/base/path_names.h"

#include <algorithm>

namespace velmora {

int BackslashPosition(const std::string& Path, int N) {
  int seen = 0;
  for (size_t i = 0; i < Path.size(); ++i) {
    if (Path[i] == '\\' && ++seen == N) return static_cast<int>(i);
  }
  return static_cast<int>(Path.size());
}

int PathKind(const std::string& Path) {
  if (Path.find("\\\\") != std::string::npos || Path.find(':') != std::string::npos) return 2;
  if (Path.find_first_of("\\/") != std::string::npos) return 1;
  return 0;
}

std::vector<std::string> DirectoryTreePrefixes(const std::string& Path) {
  std::vector<std::string> prefixes;
  int n = Path.find("\\\\") == std::string::npos ? 2 : 5;
  while (true) {
    const auto length = static_cast<size_t>(BackslashPosition(Path, n++));
    prefixes.push_back(Path.substr(0, length));
    if (length == Path.size()) return prefixes;
  }
}

void SlashesToBackslashes(std::string& Path) { std::replace(Path.begin(), Path.end(), '/', '\\'); }

void SplitPath(const std::string& Path, std::string& Drive, std::string& Directory,
               std::string& Name) {
  std::string path = Path;
  SlashesToBackslashes(path);
  const size_t cut = path.find_last_of("\\:");
  Directory = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
  Name = cut == std::string::npos ? path : path.substr(cut + 1);
  Drive.clear();
  if (Directory.find("\\\\") != std::string::npos) {
    // A UNC name: the server and share take the first four backslashes.
    const auto share_end = static_cast<size_t>(BackslashPosition(Directory, 4));
    Drive = Directory.substr(0, share_end);
    Directory.erase(0, std::min(Directory.size(), share_end + 1));
  } else if (const size_t colon = Directory.find(':'); colon != std::string::npos) {
    Drive = Directory.substr(0, colon + 1);
    Directory.erase(0, colon + 1);
    if (!Directory.empty() && Directory.front() == '\\') Directory.erase(0, 1);
  }
}

}  // namespace velmora
