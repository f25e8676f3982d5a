#include "tools/vunzip/archive_run.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "archive/base/exceptions.h"
#include "archive/inflate/inflate_errors.h"
#include "archive/methods/methods.h"
#include "archive/unzipper/archive_kind.h"
#include "archive/zip/zip_extract.h"
#include "platform/paths.h"
#include "tools/vunzip/archives.h"
#include "tools/vunzip/listing.h"
#include "tools/vunzip/wildcard.h"

namespace velmora::vunzip {

int ExitCodeFor(const std::exception& e) {
  if (dynamic_cast<const EAbUserAbort*>(&e) || dynamic_cast<const EAbAbortProgress*>(&e)) {
    return kExitAborted;
  }
  if (dynamic_cast<const EAbZipInvalidPassword*>(&e) ||
      dynamic_cast<const EAbInflatePasswordError*>(&e)) {
    return kExitBadPassword;
  }
  if (dynamic_cast<const EDiskFull*>(&e)) return kExitDiskFull;
  if (dynamic_cast<const EAbZipInvalidMethod*>(&e) || dynamic_cast<const EAbZipVersion*>(&e)) {
    return kExitUnsupported;
  }
  return kExitArchiveError;
}

// A password was given (or asked for) and the item's check refused it:
// unzip's line (in test mode among the others; none when quiet or piping)
// and the run goes on.
bool ArchiveRun::SkippedForPassword(const TAbZipItem& item, const std::exception& e) {
  if (!dynamic_cast<const EAbZipInvalidPassword*>(&e) ||
      (!options_.password && !unzipper_.OnNeedPassword)) {
    return false;
  }
  const bool piping = options_.mode == Mode::kPipe && !options_.pipe_with_names;
  if (options_.quiet == 0 && !piping) {
    bar_.Clear();
    std::fflush(stdout);
    std::fputs(SkippingLine(SafeName(NameOf(item)), "incorrect password").c_str(),
               options_.mode == Mode::kTest ? stdout : stderr);
  }
  ++failures_;
  ++bad_password_;
  return true;
}

// An item the engine cannot read (its method, or PKWARE's strong
// encryption), or one whose password nobody can give (no -P, no terminal):
// unzip's "skipping:" line among the item lines, its exit code, and the
// item counts as failed. False for any other failure.
bool ArchiveRun::Skipped(const TAbZipItem& item, const std::exception& e) {
  if (SkippedForPassword(item, e)) return true;
  const bool unsupported = ExitCodeFor(e) == kExitUnsupported;
  const bool no_password = ExitCodeFor(e) == kExitBadPassword && !options_.password &&
                           !unzipper_.OnNeedPassword;
  if (!unsupported && !no_password) return false;
  SkipItem(item, unsupported);
  return true;
}

// unzip gets a traditionally encrypted item's password before it looks at
// the file the item would replace or freshen: where none can be had (no
// -P, no terminal to ask on), each such item is skipped as unable to get a
// password, whatever -f, -u, -n or a file in the way would have decided.
bool ArchiveRun::SkippedWithoutPassword(const TAbZipItem& item) {
  const bool strong = (item.DirectoryHeader().GeneralPurposeBitFlag & kAbFlagStrongEncryption) != 0;
  if (options_.password || unzipper_.OnNeedPassword || !item.GetEncrypted() || strong ||
      item.Method() == kZipMethodWinZipAes) {
    return false;
  }
  SkipItem(item, false);
  return true;
}

bool ArchiveRun::PasswordChecked(const TAbZipItem& item) {
  if (!item.GetEncrypted() || archive_->Spanned) return true;
  StartItem(item);
  try {
    CheckItemPassword(*archive_, item);
  } catch (const EAbZipInvalidPassword& e) {
    return !SkippedForPassword(item, e);
  } catch (const EAbUserAbort& e) {
    Fail(NameOf(item), e.what(), ExitCodeFor(e));
    return false;
  } catch (const std::exception&) {
    // Anything else the item's extraction finds and reports as its own.
  }
  return true;
}

void ArchiveRun::StartItem(const TAbZipItem& item) {
  current_name_ = NameOf(item);
  ++item_number_;
}

void ArchiveRun::SkipItem(const TAbZipItem& item, bool unsupported) {
  bar_.Clear();
  std::fflush(stdout);
  // Among test mode's lines, on stderr when extracting; -q and -p leave
  // out the line for a method, not the one for a password, as unzip does.
  const bool piping = options_.mode == Mode::kPipe && !options_.pipe_with_names;
  if (!unsupported || (options_.quiet == 0 && !piping)) {
    std::fputs(SkippingLine(SafeName(NameOf(item)),
                            unsupported ? UnsupportedReason(item) : "unable to get password").c_str(),
               options_.mode == Mode::kTest ? stdout : stderr);
  }
  exit_code_ = std::max(exit_code_, unsupported ? kExitUnsupported : kExitNoPassword);
  ++failures_;
  if (unsupported) ++unsupported_;
}

void ArchiveRun::Fail(const std::string& name, const std::string& message, int code) {
  bar_.Clear();
  std::fprintf(stderr, "vunzip: %s: %s\n", SafeName(name).c_str(), SafeName(message).c_str());
  exit_code_ = std::max(exit_code_, code);
  ++failures_;
}

// The local header's disagreements with the central directory: warnings
// as unzip prints them, and a CRC that disagrees as the item's failure
// (exit code 2, as unzip's). The data is still read, under the central
// directory's values: they are the ones every listing shows. False when
// the item failed here. read: the comparison when the header was read
// already.
bool ArchiveRun::ReportLocalHeader(const TAbZipItem& item, const LocalHeaderReport* read) {
  if (archive_->ExtraBytes != 0) return true;  // offsets moved: headers are not where said
  LocalHeaderReport compared;
  if (read == nullptr) {
    if (TStream* own = SingleFileStream()) {
      compared = CompareLocalHeader(*own, item);
    } else {
      if (!raw_) raw_.emplace(archive_path_, std::ios::binary);
      compared = CompareLocalHeader(*raw_, item);
    }
    read = &compared;
  }
  const LocalHeaderReport& report = *read;
  if (!report.warnings.empty()) {
    bar_.Clear();
    std::fflush(stdout);
    // Among the test lines in test mode, as unzip prints them.
    std::FILE* out = options_.mode == Mode::kTest ? stdout : stderr;
    for (const std::string& warning : report.warnings) std::fprintf(out, "%s\n", warning.c_str());
    exit_code_ = std::max(exit_code_, kExitWarning);
    header_warnings_ = true;
  }
  if (!report.error) return true;
  std::fflush(stdout);
  Fail(NameOf(item), *report.error, kExitArchiveError);
  return false;
}

// What stands where a failed item had to go, in words that say what to
// do: a file where one of its folders must be (the engine's "I/O error
// 183"), or a folder where the file must be (its "Error Moving File" of
// an unnamed temporary file). Nothing when neither is the case.
std::optional<std::string> ArchiveRun::InTheWay(const TAbZipItem& item) const {
  if (options_.junk_paths) return std::nullopt;
  const std::string dir = options_.target_dir.empty() ? "." : options_.target_dir;
  std::string path = dir;
  std::string shown = options_.target_dir.empty() ? "" : options_.target_dir;
  const std::string name = NameOf(item);
  const bool folder_item = IsFolderItem(item);
  size_t start = 0;
  while (start < name.size()) {
    size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    const std::string part = name.substr(start, end - start);
    start = end + 1;
    if (part.empty()) continue;
    path += "/" + part;
    shown += (shown.empty() || shown.back() == '/' ? "" : "/") + part;
    const bool last = start >= name.size();
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
    if (last && !folder_item) {
      if (!S_ISDIR(st.st_mode)) return std::nullopt;
      return SafeName(shown) + " is a folder; not replacing it with a file (move it away, or "
                               "extract elsewhere with -d)";
    }
    if (!S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode)) {
      return SafeName(shown) + " exists but is not a folder; unable to make the folders for " +
             SafeName(name) + " (move it away, or extract elsewhere with -d)";
    }
  }
  return std::nullopt;
}

TAbZipArchive::TAbTextMode ArchiveRun::ArchiveTextMode() const {
  switch (options_.text_mode) {
    case 0: return TAbZipArchive::TAbTextMode::kBinary;
    case 1: return TAbZipArchive::TAbTextMode::kTextItems;
    default: return TAbZipArchive::TAbTextMode::kAllText;
  }
}

const char* ArchiveRun::TextMark(const TAbZipItem& item) const {
  if (options_.text_mode != 1) return "";
  if (item.GetUnpackedSize() == 0) return "[empty] ";
  return archive_->WritesAsText(item) ? "[text]  " : "[binary]";
}

// unzip writes a name without its control characters (DEL too): they
// would reach every terminal that ever lists the folder.
std::string ArchiveRun::WithoutControlCharacters(std::string name) {
  std::erase_if(name, [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
  return name;
}

// The engine takes a backslash in a stored name for a folder separator, as
// Windows does (unzip only in an MS-DOS name without any "/"): the name
// written differs from the one listed, and unzip's warning says so.
bool ArchiveRun::UsesBackslashes(const TAbZipItem& item) {
  return item.GetStoredName().find('\\') != std::string::npos;
}

std::string ArchiveRun::ShownName(const TAbArchiveItem& item) const {
  // The path written, as unzip shows it: without the "./" parts some
  // archivers (bsdtar) store, with "/" for backslashes.
  std::string name = WithoutControlCharacters(NameOf(item));
  if (UsesBackslashes(static_cast<const TAbZipItem&>(item))) {
    std::replace(name.begin(), name.end(), '\\', '/');
  }
  while (name.rfind("./", 0) == 0) name.erase(0, 2);
  for (size_t at; (at = name.find("/./")) != std::string::npos;) name.erase(at, 2);
  if (options_.junk_paths) {
    const size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos) name = name.substr(slash + 1);
  }
  if (options_.target_dir.empty()) return SafeName(name);
  std::string dir = options_.target_dir;
  if (dir.back() != '/') dir += '/';
  return SafeName(dir + name);
}

// Finds the archive as unzip does (also NAME.zip or NAME.ZIP) and opens it;
// a ZIP under any name is read as a ZIP.
bool ArchiveRun::OpenArchive() {
  std::error_code ec;
  const std::optional<std::string> found = FindArchiveFile(options_.archive);
  if (!found) {
    PrintArchiveNotFound(options_);
    exit_code_ = kExitNotFound;
    return false;
  }
  const std::string host = *found;
  archive_path_ = host;
  const std::string windows_name =
      WindowsPath(std::filesystem::absolute(host, ec).lexically_normal().string());
  try {
    const TAbArchiveKind kind = DetectArchiveKind(windows_name);
    if (kind != akUnknown) {
      // Read just now: the component need not open the file to read it again.
      unzipper_.ForceKind = true;
      unzipper_.SetArchiveKind(kind);
    } else {
      // Not a ZIP by its name or its start: a ZIP nonetheless when an end
      // record is there (the engine reads it under any name), else the file
      // holds no ZIP directory, which unzip answers in words of its own.
      if (!HasEndRecordSignature(host)) {
        ReportNoDirectory();
        exit_code_ = kExitNotFound;
        return false;
      }
      unzipper_.ForceKind = true;
      unzipper_.SetArchiveKind(akZip);
    }
    if (options_.password) unzipper_.SetPassword(*options_.password);
    unzipper_.SetFileName(windows_name);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vunzip: cannot read %s: %s\n", SafeName(options_.archive).c_str(),
                 e.what());
    exit_code_ = dynamic_cast<const EAbFileNotFound*>(&e) ? kExitNotFound
                 : dynamic_cast<const EAbZipOverlap*>(&e) ? kExitZipBomb
                                                           : kExitSevere;
    return false;
  }
  archive_ = unzipper_.ZipArchive();
  if (archive_ == nullptr) return false;
  if (separate_ && (options_.mode == Mode::kZipInfo || options_.quiet == 0)) std::fputc('\n', stdout);
  // Bytes in front of the archive, or before its directory.
  const int64_t extra_bytes =
      archive_->ExtraBytes > 0 ? archive_->ExtraBytes : MisplacedDirectoryBytes(*archive_);
  if (extra_bytes > 0) {
    // As unzip says it, and with its exit code for a warning.
    extra_bytes_warning_ = "warning [" + SafeName(archive_path_) + "]:  " +
                           std::to_string(extra_bytes) +
                           " extra bytes at beginning or within zipfile\n"
                           "  (attempting to process anyway)\n";
    // Test mode and zipinfo's listings with a header line show it among
    // their lines, as unzip and zipinfo do; the others on stderr.
    if (options_.mode != Mode::kTest && !ZipInfoHeaderShown()) {
      std::fputs(extra_bytes_warning_.c_str(), stderr);
    }
    exit_code_ = std::max(exit_code_, kExitWarning);
  }
  return true;
}

void ArchiveRun::ReportNoDirectory() {
  no_directory_ = true;
  PrintNoDirectory(options_, SafeName(archive_path_), separate_, several_);
}

void ArchiveRun::SelectItems() {
  std::vector<bool> include_used(options_.include.size(), false);
  std::vector<bool> exclude_used(options_.exclude.size(), false);
  for (int i = 0; i < archive_->ItemCount(); ++i) {
    TAbZipItem* item = archive_->ZipItems(i);
    // Flat, a folder entry has no name to write.
    if (options_.junk_paths && IsFolderItem(*item)) continue;
    bool included = options_.include.empty();
    for (size_t m = 0; m < options_.include.size(); ++m) {
      if (WildcardMatch(options_.include[m], NameOf(*item), options_.case_blind,
                        options_.wild_stop_at_folder)) {
        included = true;
        include_used[m] = true;
      }
    }
    if (!included) continue;
    // As unzip counts them: the first -x mask that leaves an item out.
    const auto excluded = std::find_if(options_.exclude.begin(), options_.exclude.end(),
                                       [this, item](const std::string& mask) {
                                         return WildcardMatch(mask, NameOf(*item),
                                                              options_.case_blind,
                                                              options_.wild_stop_at_folder);
                                       });
    if (excluded != options_.exclude.end()) {
      exclude_used[static_cast<size_t>(excluded - options_.exclude.begin())] = true;
      continue;
    }
    selected_.push_back(item);
  }
  selected_set_.assign(selected_.begin(), selected_.end());
  std::sort(selected_set_.begin(), selected_set_.end());
  for (size_t m = 0; m < options_.include.size(); ++m) {
    if (include_used[m]) continue;
    unmatched_.push_back(options_.include[m]);
    exit_code_ = std::max(exit_code_, kExitNoMatch);
  }
  // An -x mask that left nothing out is only a caution.
  for (size_t m = 0; m < options_.exclude.size(); ++m) {
    if (!exclude_used[m]) unmatched_excludes_.push_back(options_.exclude[m]);
  }
  // Masks that matched only what -x then left out select nothing either.
  if (selected_.empty() && options_.HasMasks() && archive_->ItemCount() > 0) {
    exit_code_ = std::max(exit_code_, kExitNoMatch);
  }
}

void ArchiveRun::HookEvents() {
  unzipper_.OnArchiveProgress = [this](void*, uint8_t progress, bool&) {
    bar_.SetArchivePercent(progress);
  };
  unzipper_.OnArchiveItemProgress = [this](void*, TAbArchiveItem* item, uint8_t progress, bool&) {
    // Several reports per item: the name is made only for a bar that shows.
    if (!bar_.Enabled()) return;
    bar_.SetItem(item ? SafeName(NameOf(*item)) : std::string(), progress);
  };
  unzipper_.OnProcessItemFailure = [this](void*, TAbArchiveItem* item, TAbProcessType,
                                          TAbErrorClass, int32_t code) {
    if (!in_driver_ || code != AbZipBadCRC || item == nullptr) return;
    if (test_sink_ == nullptr) {
      Fail(NameOf(*item), ArchiveMessage(AbZipBadCRC), kExitArchiveError);
      return;
    }
    // Test mode says it on the item's line, with both values, as unzip.
    bar_.Clear();
    std::fputs(BadCrcLine(SafeName(NameOf(*item)), test_sink_->Crc(), item->GetCrc32(),
                          options_.quiet > 0).c_str(), stdout);
    exit_code_ = std::max(exit_code_, kExitArchiveError);
    ++failures_;
  };
  if (!options_.password && TerminalAvailable()) {
    // unzip's questions: the first for an item names it, the next ones
    // (after a wrong password) ask again.
    unzipper_.OnNeedPassword = [this](void*, std::string& password) {
      const bool first = password.empty();
      if (passwords_declined_ && first) return;
      bar_.Clear();
      const bool again = asked_for_ == item_number_;
      asked_for_ = item_number_;
      const auto answer =
          AskPassword(again ? "password incorrect--reenter: "
                            : "[" + SafeName(archive_path_) + "] " + SafeName(current_name_) +
                                  " password: ");
      password = answer.value_or("");
      if (password.empty() && first) passwords_declined_ = true;
    };
  }
}

// The listings say nothing about a mask that matched nothing (their exit
// code does); test mode says it among its lines, the others on stderr.
void ArchiveRun::PrintUnmatched(std::FILE* out) {
  bar_.Clear();
  std::fflush(stdout);
  for (const std::string& mask : unmatched_) {
    std::fprintf(out, "caution: filename not matched:  %s\n", SafeName(mask).c_str());
  }
  for (const std::string& mask : unmatched_excludes_) {
    std::fprintf(out, "caution: excluded filename not matched:  %s\n", SafeName(mask).c_str());
  }
}

std::string ArchiveRun::Comment() const { return archive_->EndRecord().ZipfileComment; }

int ArchiveRun::ZipInfo() {
  ZipInfoArchive shown;
  shown.name = archive_path_;
  struct stat file {};
  if (stat(archive_path_.c_str(), &file) == 0) shown.file_size = static_cast<uint64_t>(file.st_size);
  shown.entry_count = archive_->ItemCount();
  shown.comment = Comment();
  if (ZipInfoHeaderShown()) shown.warning = extra_bytes_warning_;
  if (options_.zipinfo.format == ZipInfoFormat::kVerbose) {
    LocateEndRecords(*archive_, shown);
    std::vector<int> numbers;
    for (int i = 0; i < archive_->ItemCount(); ++i) {
      const TAbArchiveItem* item = archive_->ZipItems(i);
      if (std::binary_search(selected_set_.begin(), selected_set_.end(), item)) {
        numbers.push_back(i + 1);
      }
    }
    PrintZipInfoVerbose(stdout, shown, selected_, numbers);
  } else {
    PrintZipInfo(stdout, shown, selected_, options_.zipinfo, options_.HasMasks());
  }
  std::fflush(stdout);
  return exit_code_;
}

// An archive without entries is a warning in every mode but -z, with its
// header where the mode shows one, as unzip answers it.
int ArchiveRun::EmptyArchive() {
  const Mode mode = options_.mode;
  const bool header = options_.quiet == 0 &&
                      (mode == Mode::kExtract || mode == Mode::kList ||
                       mode == Mode::kVerboseList || mode == Mode::kTest ||
                       (mode == Mode::kPipe && options_.pipe_with_names));
  if (header) PrintArchiveHeader(stdout, archive_path_, Comment());
  std::fflush(stdout);
  std::fprintf(mode == Mode::kTest ? stdout : stderr, "warning [%s]:  zipfile is empty\n",
               SafeName(archive_path_).c_str());
  // Names that matched nothing in it are not held against it either.
  return std::max(exit_code_ == kExitNoMatch ? 0 : exit_code_, kExitWarning);
}

int ArchiveRun::Run() {
  if (!OpenArchive()) return exit_code_;
  SelectItems();
  if (archive_->ItemCount() == 0 && options_.mode != Mode::kComment &&
      options_.mode != Mode::kZipInfo) {
    return EmptyArchive();
  }
  switch (options_.mode) {
    case Mode::kZipInfo:
      if (archive_->ItemCount() == 0) {
        // "Empty zipfile.", whatever names were given, as a warning.
        if (exit_code_ == kExitNoMatch) exit_code_ = 0;
        exit_code_ = std::max(exit_code_, kExitWarning);
      } else {
        PrintUnmatched(stderr);
      }
      return ZipInfo();
    case Mode::kList:
    case Mode::kVerboseList:
      if (options_.quiet == 0) PrintArchiveHeader(stdout, archive_path_, Comment());
      if (options_.mode == Mode::kList) {
        PrintList(stdout, selected_, options_.quiet, name_case_);
      } else {
        PrintVerboseList(stdout, selected_, options_.quiet, name_case_);
      }
      std::fflush(stdout);
      return exit_code_;
    case Mode::kStamp:
      return Stamp();
    case Mode::kComment:
      // Quiet, only the comment itself (as with -p).
      if (options_.quiet > 0) {
        PrintComment(stdout, Comment());
      } else {
        PrintArchiveHeader(stdout, archive_path_, Comment());
      }
      return exit_code_;
    default:
      break;
  }
  if (options_.mode == Mode::kTest) {
    HookEvents();
    return WithPasswordSkips(Test());
  }
  if (options_.mode == Mode::kExtract && options_.quiet == 0) {
    PrintArchiveHeader(stdout, archive_path_, Comment());
  }
  PrintUnmatched(stderr);
  if (selected_.empty()) {
    if (options_.include.empty() && options_.exclude.empty()) return exit_code_;  // empty archive
    // unzip makes the -d folder all the same (not for -f, which makes nothing).
    if (options_.mode == Mode::kExtract && options_.freshen != Freshen::kExistingOnly &&
        !options_.target_dir.empty() && !MakeTargetFolder()) {
      return kExitSevere;
    }
    return std::max(exit_code_, kExitNoMatch);
  }
  HookEvents();
  return WithPasswordSkips(options_.mode == Mode::kPipe ? Pipe() : Extract());
}

// -T: the archive file takes the time of its newest selected item, and
// nothing is extracted, as with unzip.
int ArchiveRun::Stamp() {
  if (selected_.empty()) return exit_code_;
  if (!StampWithNewestItem(selected_, archive_path_)) {
    std::fprintf(stderr, "vunzip: cannot set the time of %s\n", SafeName(archive_path_).c_str());
    return std::max(exit_code_, kExitWarning);
  }
  if (options_.quiet == 0) std::printf("Updated time stamp for %s.\n", SafeName(archive_path_).c_str());
  return exit_code_;
}

// Items skipped for an incorrect password end the run with unzip's code:
// 82 when every selected item was one of them, else a warning.
int ArchiveRun::WithPasswordSkips(int code) const {
  if (bad_password_ == 0) return code;
  const bool all = static_cast<size_t>(bad_password_) == selected_.size();
  return std::max(code, all ? kExitBadPassword : kExitWarning);
}

int RunOne(Options options, bool several, bool separate, bool& no_directory) {
  ArchiveRun run(std::move(options), several, separate);
  const int code = run.Run();
  no_directory = run.NoDirectory();
  return code;
}

}  // namespace velmora::vunzip
