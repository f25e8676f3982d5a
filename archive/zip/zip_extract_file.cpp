// The file side of the extraction driver: an item is written where it will
// live, through an open handle of its folder. The data goes into a file
// without a name in that folder; date, time and attributes are set on the
// open file; only then does it take its name, replacing an older file of
// that name in one step. So the target appears only complete, a file it
// replaces stays until then, nothing is left behind by a failure or a
// kill, and a target on another file system than the temporary folder
// costs no second copy. This is the temporary file and move of the
// original driver done in the target's folder, with the same results.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/base/archive.h"
#include "archive/base/exceptions.h"
#include "archive/zip/text_mode.h"
#include "archive/zip/zip_archive.h"
#include "archive/zip/zip_extract.h"
#include "archive/zip/zip_extract_link.h"
#include "platform/folder_handles.h"
#include "platform/host_files.h"
#include "platform/paths.h"
#include "platform/win32.h"
#include "rtl/exceptions.h"
#include "rtl/format.h"

namespace velmora {

namespace {

// A stream over the new file's handle, which the file object keeps. A
// failed write fails the item, and a full disk says so. It keeps its own
// position: the decoders ask for it often, and asking the kernel would
// cost a system call each time.
class NewFileStream : public TStream {
 public:
  NewFileStream(int fd, std::string folder) : fd_(fd), folder_(std::move(folder)) {}

  int32_t Read(void* buffer, int32_t count) override {
    int32_t done = 0;
    auto* out = static_cast<uint8_t*>(buffer);
    while (done < count) {
      ssize_t n = ::read(fd_, out + done, static_cast<size_t>(count - done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<int32_t>(n);
    }
    position_ += done;
    return done;
  }

  int32_t Write(const void* buffer, int32_t count) override {
    int32_t done = 0;
    const auto* in = static_cast<const uint8_t*>(buffer);
    while (done < count) {
      ssize_t n = ::write(fd_, in + done, static_cast<size_t>(count - done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == ENOSPC || errno == EDQUOT)) throw EDiskFull(errno, folder_);
      if (n <= 0) throw EWriteError();
      done += static_cast<int32_t>(n);
    }
    position_ += done;
    return done;
  }

  int64_t Seek(int64_t offset, uint16_t origin) override {
    if (origin == soFromCurrent && offset == 0) return position_;
    int whence = origin == soFromCurrent ? SEEK_CUR : origin == soFromEnd ? SEEK_END : SEEK_SET;
    off_t result = ::lseek(fd_, static_cast<off_t>(offset), whence);
    if (result < 0) return -1;
    position_ = result;
    return position_;
  }

  void SetSize(int64_t new_size) override {
    if (::ftruncate(fd_, static_cast<off_t>(new_size)) != 0) {
      throw EOSError(WinErrorFromErrno(errno));
    }
    if (Position() > new_size) Seek(new_size, soFromBeginning);
  }

 private:
  int fd_;
  std::string folder_;
  int64_t position_ = 0;
};

std::string JoinHost(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::shared_ptr<TargetFolder> OpenTarget(const TAbZipArchive& archive) {
  std::shared_ptr<TargetFolder> folder =
      archive.HostBaseDirectory().empty() ? TargetFolder::Open(archive.BaseDirectory())
                                          : TargetFolder::OpenHost(archive.HostBaseDirectory());
  if (!folder) throw EAbNoSuchDirectory();
  return folder;
}

// The Windows name of the target, as the overwrite question and the
// messages show it.
std::string WindowsTarget(const std::string& base, const std::vector<std::string>& parts) {
  std::string target = base;
  for (const std::string& part : parts) {
    if (!target.empty() && target.back() != '\\') target += '\\';
    target += part;
  }
  return target;
}

// The parts of a name the overwrite question gave instead of the item's
// own: a Windows path below the target folder.
std::vector<std::string> RenamedTargetParts(const std::string& base, const std::string& renamed) {
  std::string prefix = base;
  if (!prefix.empty() && prefix.back() != '\\') prefix += '\\';
  if (renamed.size() <= prefix.size() || renamed.compare(0, prefix.size(), prefix) != 0) {
    throw EAbException(Format("%s is not inside the target folder", {renamed}));
  }
  std::vector<std::string> parts;
  size_t start = prefix.size();
  for (size_t at; (at = renamed.find('\\', start)) != std::string::npos; start = at + 1) {
    parts.push_back(renamed.substr(start, at - start));
  }
  parts.push_back(renamed.substr(start));
  for (const std::string& part : parts) {
    if (part.empty() || part == "." || part == "..") {
      throw EAbException(Format("%s is not inside the target folder", {renamed}));
    }
  }
  return parts;
}

// Where an item goes: its folder, open, and the name it takes there.
struct ItemPlace {
  std::shared_ptr<TargetFolder> target;
  int folder_fd = -1;
  std::string host_folder;
  std::string leaf;
};

// Thrown when a kept handle turned out to name a removed folder.
struct StaleHandle {};

[[noreturn]] void RaiseWalkFailure(FolderWalk walk, const std::string& host_path) {
  switch (walk) {
    case FolderWalk::kMissing: throw EAbNoSuchDirectory();
    case FolderWalk::kSymlink:
      throw EAbException(
          Format("%s is a symbolic link; not extracting through it", {host_path}));
    case FolderWalk::kNotFolder:
      throw EInOutError(static_cast<int32_t>(ERROR_ALREADY_EXISTS));
    default:
      if (errno == ESTALE) throw StaleHandle();
      throw EInOutError(static_cast<int32_t>(WinErrorFromErrno(errno)));
  }
}

// Opens (or, with eoCreateDirs, makes) the folders the parts name; the last
// part is the file's name unless the item is a folder.
ItemPlace PlaceItem(const TAbZipArchive& archive, const std::vector<std::string>& parts,
                    bool folder_item) {
  ItemPlace place;
  place.target = OpenTarget(archive);
  const std::vector<std::string> folders(parts.begin(),
                                         folder_item ? parts.end() : parts.end() - 1);
  if (!place.target->ExactNames()) {
    // The prefix's own drives keep the Windows limit on a full path.
    if (WindowsTarget(archive.BaseDirectory(), parts).size() >= MAX_PATH) {
      throw EInOutError(static_cast<int32_t>(ERROR_FILENAME_EXCED_RANGE));
    }
  }
  size_t stopped_at = 0;
  const bool create = (archive.ExtractOptions & eoCreateDirs) != 0;
  FolderWalk walk = place.target->OpenBelow(folders, create, &place.folder_fd, &place.host_folder,
                                            &stopped_at);
  if (walk != FolderWalk::kOpened) RaiseWalkFailure(walk, place.host_folder);
  if (!folder_item) place.leaf = place.target->EntryName(place.host_folder, parts.back());
  return place;
}

// The item's modification time in UTC, as unzip takes it: the extended
// timestamp, exact and in UTC, before the DOS time (local time).
std::optional<FILETIME> StoredModificationTime(const TAbZipItem& item) {
  FILETIME local, utc;
  if (const std::optional<int64_t> mtime = item.UnixModificationTime()) {
    // FILETIME counts 100 ns from 1601-01-01, 11,644,473,600 s before 1970.
    constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
    constexpr int64_t kTicksPerSecond = 10000000;
    const int64_t seconds = *mtime;
    const auto ticks = static_cast<uint64_t>((seconds + kSecondsFrom1601To1970) * kTicksPerSecond);
    utc.dwLowDateTime = static_cast<DWORD>(ticks);
    utc.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return utc;
  }
  if (DosDateTimeToFileTime(item.GetDosDate(), item.GetDosTime(), &local) &&
      LocalFileTimeToFileTime(&local, &utc)) {
    return utc;
  }
  return std::nullopt;
}

void RestoreDateTimeAndAttributes(int fd, const std::string& name, const TAbZipItem& item,
                                  bool restore_time) {
  // As the original driver, a date or attribute that cannot be set does
  // not fail an item whose data is whole.
  const std::optional<FILETIME> utc = restore_time ? StoredModificationTime(item) : std::nullopt;
  if (utc) {
    (void)SetFileTime(static_cast<HANDLE>(fd), nullptr, nullptr, &*utc);
  }
  (void)SetNewFileAttributes(fd, name, item.GetHostAttributes());
}

// A folder made in a host folder keeps its stored time and, made on Unix,
// its stored permission bits (0755, 0700), as unzip restores them, exactly
// and regardless of the umask. The prefix's own drives keep Windows rules:
// a folder there takes neither.
void RestoreFolderSettings(const ItemPlace& place, const std::vector<std::string>& parts,
                           const TAbZipItem& item, bool restore_time) {
  if (!place.target->ExactNames()) return;
  const std::optional<FILETIME> utc = restore_time ? StoredModificationTime(item) : std::nullopt;
  if (utc) {
    place.target->RestoreFolderTime(parts, host::TimespecFromFileTime(*utc));
  }
  constexpr uint8_t kHostUnix = 3;  // "version made by" high byte: Unix
  const uint32_t unix_mode = item.GetHostAttributes() >> 16;
  if ((item.MadeByVersion() >> 8) != kHostUnix || !S_ISDIR(unix_mode)) return;
  place.target->RestoreFolderMode(parts, unix_mode);
}

// The same name twice in one run: the later item replaced what the
// earlier one wrote, and the archive's warning says so.
void NoteRepeatedName(TAbZipArchive& archive, TAbZipItem& item, const ItemPlace& place,
                      const std::string& target) {
  if (place.target->NoteWritten(place.folder_fd, place.leaf) && archive.OnItemWarning) {
    archive.OnItemWarning(&item, Format("%s replaces the file an earlier item of this archive "
                                        "wrote under the same name", {target}));
  }
}

// Moves a file (or link) at leaf aside as mode asks, before an item is
// published there; returns its new name, or "" when nothing was there to
// keep (or a folder, which publishing refuses anyway). A backup that
// cannot be made fails the item: the file stays as it was.
std::string MoveAsideForBackup(int folder_fd, const std::string& leaf,
                               TAbZipArchive::TAbBackup mode) {
  struct stat st {};
  if (::fstatat(folder_fd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode)) {
    return {};
  }
  std::string backup = leaf + "~";
  if (mode == TAbZipArchive::TAbBackup::kTilde) {
    if (::renameat(folder_fd, leaf.c_str(), folder_fd, backup.c_str()) == 0) return backup;
  } else {
    constexpr int kLastNumber = 99999;  // NAME~, then NAME~1 ... NAME~99999
    for (int number = 0; number <= kLastNumber; ++number) {
      if (number > 0) backup = leaf + "~" + std::to_string(number);
      if (host::RenameNoReplace(folder_fd, leaf, folder_fd, backup)) return backup;
      if (errno != EEXIST) break;
    }
  }
  throw EAbException(Format("Cannot keep the existing file as %s (%s); it is left as it was",
                            {backup, std::strerror(errno)}));
}

}  // namespace

void UnzipItemToFile(TAbZipArchive& Archive, TAbZipItem& Item, const std::string& FileName) {
  const bool folder_item = IsFolderItem(Item);
  std::vector<std::string> parts = TargetPathParts(FileName, Archive.ExtractOptions, folder_item);
  // Flat, a folder leaves nothing behind.
  if (folder_item && (Archive.ExtractOptions & eoRestorePath) == 0) return;
  std::string target = WindowsTarget(Archive.BaseDirectory(), parts);

  ItemPlace place;
  NewFileInFolder file;
  // A kept handle may name a folder removed since (by the user, or a test):
  // then everything is resolved afresh, once.
  for (int attempt = 0;; ++attempt) {
    try {
      place = PlaceItem(Archive, parts, folder_item);
      if (folder_item) {
        RestoreFolderSettings(place, parts, Item, Archive.RestoreFolderTimes);
        return;
      }
      if (Archive.OnConfirmOverwrite) {
        struct stat st {};
        if (::fstatat(place.folder_fd, place.leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            !S_ISDIR(st.st_mode)) {
          bool confirm = true;
          std::string asked = target;
          Archive.OnConfirmOverwrite(asked, confirm);
          if (!confirm) return;
          if (asked != target) {
            // Renamed by the answer: the item goes to the new name, which
            // must lie below the target folder like every item's.
            parts = RenamedTargetParts(Archive.BaseDirectory(), asked);
            target = WindowsTarget(Archive.BaseDirectory(), parts);
            --attempt;
            continue;
          }
        }
      }
      // A stored link becomes a link in host folders only; the prefix's
      // own drives keep Windows rules and take its text as a file.
      if (place.target->ExactNames() && IsUnixLinkItem(Item) &&
          RestoreLinkItem(Archive, Item, place.folder_fd, place.host_folder, place.leaf,
                          parts.size() - 1, target)) {
        NoteRepeatedName(Archive, Item, place, target);
        return;
      }
      if (!file.Create(place.folder_fd)) {
        // A removed folder answers ENOENT, or EPERM for an unnamed file.
        const int err = errno;
        if (TargetFolder::IsStale(place.folder_fd)) throw StaleHandle();
        errno = err;
        if (errno == ENOSPC || errno == EDQUOT) throw EDiskFull(errno, place.host_folder);
        throw EFCreateError::ForFile(target);
      }
      break;
    } catch (const StaleHandle&) {
      TargetFolder::ForgetAll();
      if (attempt > 0) throw EAbNoSuchDirectory();
    }
  }

  try {
    {
      NewFileStream stream(file.Fd(), place.host_folder);
      UnzipItemToStream(Archive, Item, &stream);
    }
    // Converted once whole: the expanders may seek in what they wrote.
    if (Archive.WritesAsText(Item) && !ConvertFileToTextMode(file.Fd())) {
      if (errno == ENOSPC || errno == EDQUOT) throw EDiskFull(errno, place.host_folder);
      throw EWriteError();
    }
    RestoreDateTimeAndAttributes(file.Fd(), place.leaf, Item, Archive.RestoreFileTimes);
    if (Archive.RestoreOwners) RestoreOwner(file.Fd(), "", Item);
    const std::string backup =
        Archive.BackupReplaced == TAbZipArchive::TAbBackup::kNone
            ? std::string()
            : MoveAsideForBackup(place.folder_fd, place.leaf, Archive.BackupReplaced);
    bool replaced = false;
    if (!file.Publish(place.leaf, &replaced)) {
      const int err = errno;
      if (!backup.empty()) {
        (void)host::RenameNoReplace(place.folder_fd, backup, place.folder_fd, place.leaf);
      }
      errno = err;
      if (errno == ENOSPC || errno == EDQUOT) throw EDiskFull(errno, place.host_folder);
      const std::string temp_name =
          file.HiddenName().empty() ? "(unnamed temporary file)" : file.HiddenName();
      throw EAbException(Format("Error Moving File %s to %s",
                                {WindowsPath(JoinHost(place.host_folder, temp_name)), target}));
    }
    NoteRepeatedName(Archive, Item, place, target);
  } catch (const EAbUserAbort&) {
    Archive.State = stInvalid;  // refuses further extraction until reloaded
    throw;
  }
}

}  // namespace velmora
