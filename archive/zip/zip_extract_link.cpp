#include "archive/zip/zip_extract_link.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "archive/base/exceptions.h"
#include "archive/zip/zip_archive.h"
#include "archive/zip/zip_extract.h"
#include "archive/zip/zip_item.h"
#include "platform/folder_handles.h"
#include "rtl/exceptions.h"
#include "rtl/format.h"
#include "rtl/stream.h"

namespace velmora {

namespace {

constexpr uint8_t kHostUnix = 3;  // "version made by" high byte: Unix
// The longest text a link can hold: PATH_MAX less its terminating NUL.
constexpr int64_t kLongestLinkText = 4095;

// Makes the link under a hidden name beside its place; returns that name.
std::string MakeHiddenLink(const std::string& text, int folder_fd, const std::string& target) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = Format(".vlink-%d-%d", {static_cast<int32_t>(::getpid()),
                                                     static_cast<int32_t>(counter++)});
    if (::symlinkat(text.c_str(), folder_fd, name.c_str()) == 0) return name;
    if (errno != EEXIST) break;
  }
  throw EFCreateError::ForFile(target);
}

}  // namespace

bool IsUnixLinkItem(const TAbZipItem& Item) {
  return (Item.MadeByVersion() >> 8) == kHostUnix && S_ISLNK(Item.GetHostAttributes() >> 16);
}

bool LinkStaysInside(const std::string& text, size_t depth) {
  if (text.empty() || text[0] == '/' || text.find('\0') != std::string::npos) return false;
  size_t level = depth;
  bool named = false;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('/', start);
    if (end == std::string::npos) end = text.size();
    const std::string part = text.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (named || level == 0) return false;
      --level;
    } else {
      named = true;
    }
  }
  return true;
}

void RestoreOwner(int folder_fd, const std::string& name, const TAbZipItem& Item) {
  const TAbUnixExtra& ids = Item.UnixExtra();
  if (!ids.Uid || !ids.Gid) return;
  const int flags = AT_SYMLINK_NOFOLLOW | (name.empty() ? AT_EMPTY_PATH : 0);
  (void)::fchownat(folder_fd, name.c_str(), static_cast<uid_t>(*ids.Uid),
                   static_cast<gid_t>(*ids.Gid), flags);
}

bool RestoreLinkItem(TAbZipArchive& Archive, TAbZipItem& Item, int folder_fd,
                     const std::string& host_folder, const std::string& leaf, size_t depth,
                     const std::string& target) {
  // No link holds more than a path; such an item is data, written as before.
  if (Item.GetUnpackedSize() > kLongestLinkText) return false;
  TMemoryStream data;
  try {
    UnzipItemToStream(Archive, Item, &data);
  } catch (const EAbUserAbort&) {
    Archive.State = stInvalid;  // refuses further extraction until reloaded
    throw;
  }
  const std::string text(data.Data().begin(), data.Data().end());
  if (!LinkStaysInside(text, depth)) {
    if (Archive.OnLink) Archive.OnLink(Item, text, false);
    return false;
  }
  // Made aside, then renamed into place: a file or link of that name is
  // replaced whole, and a folder is never replaced (EISDIR).
  const std::string hidden = MakeHiddenLink(text, folder_fd, target);
  const int token = NotePendingTempFile(host_folder + "/" + hidden);
  const bool placed = ::renameat(folder_fd, hidden.c_str(), folder_fd, leaf.c_str()) == 0;
  const int err = errno;
  if (!placed) (void)::unlinkat(folder_fd, hidden.c_str(), 0);
  ForgetPendingTempFile(token);
  if (!placed) {
    throw EAbException(Format("Cannot make the symbolic link %s: %s", {target, std::strerror(err)}));
  }
  if (Archive.RestoreOwners) RestoreOwner(folder_fd, leaf, Item);
  if (Archive.OnLink) Archive.OnLink(Item, text, true);
  return true;
}

}  // namespace velmora
