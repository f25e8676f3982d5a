// The runtime's file and name routines, on Windows paths.
#pragma once

#include <string>

namespace velmora {

bool FileExists(const std::string& file_name);
bool DirectoryExists(const std::string& directory);
// One level, like CreateDirectoryA.
bool CreateDir(const std::string& directory);
bool DeleteFile(const std::string& file_name);
bool RenameFile(const std::string& old_name, const std::string& new_name);

// Name parts, on "\" and ":" (and "/" too, which Windows also accepts).
std::string ExtractFilePath(const std::string& file_name);  // with its "\"
std::string ExtractFileName(const std::string& file_name);
std::string ExtractFileExt(const std::string& file_name);   // with its "."
std::string ExpandFileName(const std::string& file_name);
std::string IncludeTrailingPathDelimiter(const std::string& path);

// Upper-casing: AnsiUpperCase folds letters beyond ASCII too (UTF-8 aware);
// UpperCase folds a to z only.
std::string UpperCase(const std::string& text);
std::string AnsiUpperCase(const std::string& text);
int CompareText(const std::string& a, const std::string& b);  // ASCII, case-blind

}  // namespace velmora
