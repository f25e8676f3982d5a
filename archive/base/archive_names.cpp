// From stored names to selections and target paths: matching items against
// masks, and placing an item's name under the base directory.
#include <string_view>

#include "archive/base/archive.h"
#include "archive/base/file_utils.h"
#include "archive/base/mask_match.h"
#include "archive/base/path_names.h"
#include "platform/sysutils.h"
#include "rtl/format.h"

namespace velmora {

namespace {

// Blanks and control characters, as a mask list's pieces are trimmed.
bool IsTrimmed(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string Trim(std::string_view text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && IsTrimmed(text[first])) ++first;
  while (last > first && IsTrimmed(text[last - 1])) --last;
  return std::string(text.substr(first, last - first));
}

// The text after the last "\" or ":".
std::string NamePart(const std::string& path) {
  size_t at = path.find_last_of("\\:");
  return at == std::string::npos ? path : path.substr(at + 1);
}

// Up to and including the last "\" or ":".
std::string DirectoryPart(const std::string& path) {
  size_t at = path.find_last_of("\\:");
  return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

[[noreturn]] void RaiseUnsafeName(const std::string& name) {
  throw EAbException(
      Format("Item name \"%s\" would be written outside the base directory", {name}));
}

// A stored name is untrusted: with its folders kept it must stay below the
// base folder (no "..", no root, no drive); flat, its name part must be a
// plain file name.
void CheckStoredNameStaysInside(const std::string& name, TAbExtractOptions options) {
  if ((options & eoRestorePath) != 0) {
    if (!name.empty() && name.front() == '\\') RaiseUnsafeName(name);
    if (name.find(':') != std::string::npos) RaiseUnsafeName(name);
    size_t start = 0;
    while (start <= name.size()) {
      size_t end = name.find('\\', start);
      if (end == std::string::npos) end = name.size();
      if (std::string_view(name).substr(start, end - start) == "..") RaiseUnsafeName(name);
      start = end + 1;
    }
    return;
  }
  std::string part = NamePart(name);
  if (part.empty() || part == "." || part == "..") RaiseUnsafeName(name);
}

}  // namespace

bool ItemMatchesMask(const TAbArchiveItem& Item, const std::string& Mask) {
  std::string mask = Mask;
  SlashesToBackslashes(mask);
  std::string drive, directory, name;
  SplitPath(mask, drive, directory, name);
  std::string stored = Item.GetStoredName();
  SlashesToBackslashes(stored);
  return MatchFileSpec(stored, directory + name);
}

bool ItemMatchesMaskList(const TAbArchiveItem& Item, const std::string& List) {
  size_t start = 0;
  while (start < List.size()) {
    size_t end = List.find(';', start);
    if (end == std::string::npos) end = List.size();
    if (ItemMatchesMask(Item, Trim(std::string_view(List).substr(start, end - start)))) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

bool ConfirmTargetPath(const std::string& BaseDirectory, std::string& Name,
                       TAbExtractOptions Options,
                       const TAbConfirmOverwriteEvent& OnConfirmOverwrite) {
  bool confirm = true;
  SlashesToBackslashes(Name);
  const std::string name = Name;
  CheckStoredNameStaysInside(name, Options);
  std::string target = BaseDirectory;
  if (!target.empty() && target.back() != '\\') target += '\\';
  target += (Options & eoRestorePath) != 0 ? name : NamePart(name);
  std::string directory = DirectoryPart(target);
  if (!directory.empty() && directory.back() == '\\') directory.pop_back();
  if (!directory.empty() && !IsDirectory(directory)) {
    if ((Options & eoCreateDirs) == 0) throw EAbNoSuchDirectory();
    ForceDirectoryTree(directory);
  }
  if (OnConfirmOverwrite && FileExists(target) && !DirectoryExists(target)) {
    OnConfirmOverwrite(target, confirm);
  }
  if (confirm) Name = target;
  return confirm;
}

std::vector<std::string> TargetPathParts(const std::string& Name, TAbExtractOptions Options,
                                         bool FolderItem) {
  std::string name = Name;
  SlashesToBackslashes(name);
  if (FolderItem && (Options & eoRestorePath) != 0) {
    while (!name.empty() && name.back() == '\\') name.pop_back();
  }
  CheckStoredNameStaysInside(name, Options);
  std::vector<std::string> parts;
  if ((Options & eoRestorePath) == 0) {
    parts.push_back(NamePart(name));
    return parts;
  }
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('\\', start);
    if (end == std::string::npos) end = name.size();
    std::string part = name.substr(start, end - start);
    if (!part.empty() && part != ".") parts.push_back(std::move(part));
    start = end + 1;
  }
  if (parts.empty() && !FolderItem) RaiseUnsafeName(Name);
  return parts;
}

}  // namespace velmora
