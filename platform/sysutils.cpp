// The runtime's file and name routines, on Windows paths.
#include "platform/sysutils.h"

#include <algorithm>

#include "platform/host_files.h"
#include "platform/win32.h"

namespace velmora {

namespace {

bool IsDelimiter(char c) { return c == '\\' || c == '/' || c == ':'; }

size_t LastDelimiter(const std::string& name) {
  for (size_t i = name.size(); i > 0; --i) {
    if (IsDelimiter(name[i - 1])) return i - 1;
  }
  return std::string::npos;
}

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

bool FileExists(const std::string& file_name) {
  DWORD attributes = GetFileAttributesA(file_name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& directory) {
  DWORD attributes = GetFileAttributesA(directory.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateDir(const std::string& directory) { return CreateDirectoryA(directory.c_str(), nullptr); }

bool DeleteFile(const std::string& file_name) { return DeleteFileA(file_name.c_str()); }

bool RenameFile(const std::string& old_name, const std::string& new_name) {
  return MoveFileA(old_name.c_str(), new_name.c_str());
}

std::string ExtractFilePath(const std::string& file_name) {
  size_t at = LastDelimiter(file_name);
  return at == std::string::npos ? std::string() : file_name.substr(0, at + 1);
}

std::string ExtractFileName(const std::string& file_name) {
  size_t at = LastDelimiter(file_name);
  return at == std::string::npos ? file_name : file_name.substr(at + 1);
}

std::string ExtractFileExt(const std::string& file_name) {
  for (size_t i = file_name.size(); i > 0; --i) {
    char c = file_name[i - 1];
    if (c == '.') return file_name.substr(i - 1);
    if (IsDelimiter(c)) break;
  }
  return std::string();
}

std::string ExpandFileName(const std::string& file_name) {
  if (file_name.empty()) return std::string();
  return host::ParseFullWindowsPath(file_name).Render(true);
}

std::string IncludeTrailingPathDelimiter(const std::string& path) {
  if (!path.empty() && (path.back() == '\\' || path.back() == '/')) return path;
  return path + "\\";
}

std::string UpperCase(const std::string& text) {
  std::string out = text;
  std::transform(out.begin(), out.end(), out.begin(), AsciiUpper);
  return out;
}

std::string AnsiUpperCase(const std::string& text) { return host::FoldCase(text); }

int CompareText(const std::string& a, const std::string& b) {
  size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    int diff = static_cast<unsigned char>(AsciiUpper(a[i])) -
               static_cast<unsigned char>(AsciiUpper(b[i]));
    if (diff != 0) return diff;
  }
  return static_cast<int>(a.size()) - static_cast<int>(b.size());
}

}  // namespace velmora
