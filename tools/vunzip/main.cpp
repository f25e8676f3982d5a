// vunzip: lists, tests and extracts ZIP archives with the engine the
// installer unpacks itself with. Options and exit codes follow unzip.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "archive/base/archive.h"
#include "archive/base/directories.h"
#include "archive/base/exceptions.h"
#include "archive/base/temp_file_stream.h"
#include "archive/inflate/inflate_errors.h"
#include "archive/unzipper/archive_kind.h"
#include "archive/unzipper/unzipper.h"
#include "archive/zip/bit_bucket_stream.h"
#include "archive/zip/zip_archive.h"
#include "archive/zip/zip_extract.h"
#include "platform/folder_handles.h"
#include "platform/paths.h"
#include "platform/sysutils.h"
#include "tools/vunzip/archives.h"
#include "tools/vunzip/damage.h"
#include "tools/vunzip/listing.h"
#include "tools/vunzip/options.h"
#include "tools/vunzip/terminal.h"
#include "tools/vunzip/wildcard.h"
#include "tools/vunzip/zipinfo.h"

namespace velmora::vunzip {
namespace {

// Exit codes, as unzip's.
constexpr int kExitOk = 0;
constexpr int kExitWarning = 1;
constexpr int kExitArchiveError = 2;
constexpr int kExitSevere = 3;
constexpr int kExitNoPassword = 5;  // no terminal to ask for one
constexpr int kExitNotFound = 9;
constexpr int kExitZipBomb = 12;
constexpr int kExitBadOptions = 10;
constexpr int kExitNoMatch = 11;
constexpr int kExitDiskFull = 50;
constexpr int kExitAborted = 80;
constexpr int kExitUnsupported = 81;
constexpr int kExitBadPassword = 82;

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

class Vunzip {
 public:
  // several: one of several archives of a run, which leaves out the line
  // that names the one archive given; separate: a blank line goes before
  // this archive's listing, as unzip puts one between archives.
  explicit Vunzip(Options options, bool several = false, bool separate = false)
      : options_(std::move(options)),
        several_(several),
        separate_(separate),
        bar_(options_.quiet < 2 &&
             (options_.mode == Mode::kExtract || options_.mode == Mode::kTest)) {}

  int Run();
  // No ZIP directory was found in the file.
  bool NoDirectory() const { return no_directory_; }

 private:
  void ReportNoDirectory();
  bool OpenArchive();
  void SelectItems();
  void HookEvents();
  int Extract();
  int Test();
  int Pipe();
  int ZipInfo();
  bool WantedByFreshen(const TAbZipItem& item) const;
  int WithPasswordSkips(int code) const;
  bool SkippedForPassword(const TAbZipItem& item, const std::exception& e);
  void AnswerOverwrite(std::string& target, bool& confirm);
  void PrintUnmatched(std::FILE* out);
  std::string Comment() const;
  void ExtractOne(TAbZipArchive& archive, TAbZipItem& item, const std::string& name);
  void Fail(const std::string& name, const std::string& message, int code);
  bool Skipped(const TAbZipItem& item, const std::exception& e);
  bool ZipInfoHeaderShown() const {
    return options_.mode == Mode::kZipInfo && options_.zipinfo.format != ZipInfoFormat::kVerbose &&
           ZipInfoShowsHeader(options_.zipinfo, !options_.include.empty());
  }
  std::optional<std::string> InTheWay(const TAbZipItem& item) const;
  bool ReportLocalHeader(const TAbZipItem& item);
  std::string ShownName(const TAbArchiveItem& item) const;
  // The archive's own stream, for reading local headers, when the archive
  // is one file: its buffer holds the header already, so a header costs no
  // system call. A spanned archive's stream may stand on another disk, so
  // there the last file is read on its own.
  TStream* SingleFileStream() const {
    return archive_ != nullptr && !archive_->Spanned ? archive_->Stream() : nullptr;
  }

  Options options_;
  const bool several_;
  const bool separate_;
  bool no_directory_ = false;
  // unzip's warning about bytes in front of the archive, which test mode
  // prints under its "Archive:" line.
  std::string extra_bytes_warning_;
  // The archive's file as found (NAME.zip for NAME), shown on "Archive:".
  std::string archive_path_;
  ProgressBar bar_;
  TAbUnZipper unzipper_;
  TAbZipArchive* archive_ = nullptr;
  std::vector<TAbZipItem*> selected_;
  // Masks that matched no item, for unzip's "caution" lines.
  std::vector<std::string> unmatched_;
  // selected_ sorted by address, for the confirmation handler's lookups.
  std::vector<const TAbArchiveItem*> selected_set_;
  int exit_code_ = kExitOk;
  // Counts every failed item, so that a later failure with the same exit
  // code as an earlier one is still seen as a failure.
  int failures_ = 0;
  int unsupported_ = 0;  // items skipped for a method or encryption we lack
  int bad_password_ = 0;  // items skipped for an incorrect password
  // Inside the driver a CRC mismatch is reported to the failure event
  // rather than raised; outside it, the event repeats a failure the
  // callback wrapper has already printed.
  bool in_driver_ = false;
  // The sink of the item under test, whose CRC a failure report shows.
  const CrcCountingBucket* test_sink_ = nullptr;
  bool overwrite_declined_ = false;
  bool overwrite_all_ = false;
  bool overwrite_none_ = false;
  // The archive's file, for the local headers the engine does not compare
  // in a spanned archive; made only then (an iostream sets up the locale
  // machinery, a cost every run would pay).
  std::optional<std::ifstream> raw_;
  // A local header disagreed with the central directory in a way unzip
  // calls a warning-error.
  bool header_warnings_ = false;
  std::string current_name_;
  const TAbZipItem* current_item_ = nullptr;
  // The current item is a stored symbolic link: its text, and whether it
  // became a link (or a file holding the text).
  std::optional<std::pair<std::string, bool>> link_;
  // Links made in this run, as shown: unzip lists them again at the end.
  std::vector<std::pair<std::string, std::string>> links_made_;
};

// An item the engine cannot read (its method, or PKWARE's strong
// encryption), or one whose password nobody can give (no -P, no terminal):
// unzip's "skipping:" line among the item lines, its exit code, and the
// item counts as failed. False for any other failure.
// A password was given (or asked for) and the item's check refused it:
// unzip's line (in test mode among the others; none when quiet or piping)
// and the run goes on.
bool Vunzip::SkippedForPassword(const TAbZipItem& item, const std::exception& e) {
  if (!dynamic_cast<const EAbZipInvalidPassword*>(&e) ||
      (!options_.password && !unzipper_.OnNeedPassword)) {
    return false;
  }
  const bool piping = options_.mode == Mode::kPipe && !options_.pipe_with_names;
  if (options_.quiet == 0 && !piping) {
    bar_.Clear();
    std::fflush(stdout);
    std::fputs(SkippingLine(SafeName(item.GetStoredName()), "incorrect password").c_str(),
               options_.mode == Mode::kTest ? stdout : stderr);
  }
  ++failures_;
  ++bad_password_;
  return true;
}

bool Vunzip::Skipped(const TAbZipItem& item, const std::exception& e) {
  if (SkippedForPassword(item, e)) return true;
  const bool unsupported = ExitCodeFor(e) == kExitUnsupported;
  const bool no_password = ExitCodeFor(e) == kExitBadPassword && !options_.password &&
                           !unzipper_.OnNeedPassword;
  if (!unsupported && !no_password) return false;
  bar_.Clear();
  std::fflush(stdout);
  // Among test mode's lines, on stderr when extracting; -q leaves out the
  // line for a method, not the one for a password, as unzip does.
  if (!unsupported || options_.quiet == 0) {
    std::fputs(SkippingLine(SafeName(item.GetStoredName()),
                            unsupported ? UnsupportedReason(item) : "unable to get password").c_str(),
               options_.mode == Mode::kTest ? stdout : stderr);
  }
  exit_code_ = std::max(exit_code_, unsupported ? kExitUnsupported : kExitNoPassword);
  ++failures_;
  if (unsupported) ++unsupported_;
  return true;
}

void Vunzip::Fail(const std::string& name, const std::string& message, int code) {
  bar_.Clear();
  std::fprintf(stderr, "vunzip: %s: %s\n", SafeName(name).c_str(), SafeName(message).c_str());
  exit_code_ = std::max(exit_code_, code);
  ++failures_;
}

// The local header's disagreements with the central directory: warnings
// as unzip prints them, and a CRC that disagrees as the item's failure
// (exit code 2, as unzip's). The data is still read, under the central
// directory's values: they are the ones every listing shows. False when
// the item failed here.
bool Vunzip::ReportLocalHeader(const TAbZipItem& item) {
  if (archive_->ExtraBytes != 0) return true;  // offsets moved: headers are not where said
  LocalHeaderReport report;
  if (TStream* own = SingleFileStream()) {
    report = CompareLocalHeader(*own, item);
  } else {
    if (!raw_) raw_.emplace(archive_path_, std::ios::binary);
    report = CompareLocalHeader(*raw_, item);
  }
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
  Fail(item.GetStoredName(), *report.error, kExitArchiveError);
  return false;
}

// What stands where a failed item had to go, in words that say what to
// do: a file where one of its folders must be (the engine's "I/O error
// 183"), or a folder where the file must be (its "Error Moving File" of
// an unnamed temporary file). Nothing when neither is the case.
std::optional<std::string> Vunzip::InTheWay(const TAbZipItem& item) const {
  if (options_.junk_paths) return std::nullopt;
  const std::string dir = options_.target_dir.empty() ? "." : options_.target_dir;
  std::string path = dir;
  std::string shown = options_.target_dir.empty() ? "" : options_.target_dir;
  const std::string name = item.GetStoredName();
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

std::string Vunzip::ShownName(const TAbArchiveItem& item) const {
  // The path written, as unzip shows it: without the "./" parts some
  // archivers (bsdtar) store.
  std::string name = item.GetStoredName();
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

// Finds the archive as unzip does (also NAME.zip when NAME has no dot) and
// opens it; a ZIP under any name is read as a ZIP.
bool Vunzip::OpenArchive() {
  std::error_code ec;
  std::string host = options_.archive;
  if (!std::filesystem::is_regular_file(host, ec)) {
    const bool has_dot = std::filesystem::path(host).filename().string().find('.') !=
                         std::string::npos;
    if (!has_dot && std::filesystem::is_regular_file(host + ".zip", ec)) {
      host += ".zip";
    } else {
      std::fprintf(stderr, "vunzip: cannot find or open %s\n", SafeName(options_.archive).c_str());
      exit_code_ = kExitNotFound;
      return false;
    }
  }
  archive_path_ = host;
  const std::string windows_name =
      WindowsPath(std::filesystem::absolute(host, ec).lexically_normal().string());
  try {
    if (DetectArchiveKind(windows_name) == akUnknown) {
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

void Vunzip::ReportNoDirectory() {
  no_directory_ = true;
  PrintNoDirectory(options_, SafeName(archive_path_), separate_, several_);
}

void Vunzip::SelectItems() {
  std::vector<bool> include_used(options_.include.size(), false);
  for (int i = 0; i < archive_->ItemCount(); ++i) {
    TAbZipItem* item = archive_->ZipItems(i);
    // Flat, a folder entry has no name to write.
    if (options_.junk_paths && IsFolderItem(*item)) continue;
    bool included = options_.include.empty();
    for (size_t m = 0; m < options_.include.size(); ++m) {
      if (WildcardMatch(options_.include[m], item->GetStoredName(), options_.case_blind)) {
        included = true;
        include_used[m] = true;
      }
    }
    if (!included) continue;
    const bool excluded =
        std::any_of(options_.exclude.begin(), options_.exclude.end(),
                    [this, item](const std::string& mask) {
                      return WildcardMatch(mask, item->GetStoredName(), options_.case_blind);
                    });
    if (excluded) continue;
    selected_.push_back(item);
  }
  selected_set_.assign(selected_.begin(), selected_.end());
  std::sort(selected_set_.begin(), selected_set_.end());
  for (size_t m = 0; m < options_.include.size(); ++m) {
    if (include_used[m]) continue;
    unmatched_.push_back(options_.include[m]);
    exit_code_ = std::max(exit_code_, kExitNoMatch);
  }
  // Masks that matched only what -x then left out select nothing either.
  const bool masks = !options_.include.empty() || !options_.exclude.empty();
  if (selected_.empty() && masks && archive_->ItemCount() > 0) {
    exit_code_ = std::max(exit_code_, kExitNoMatch);
  }
}

void Vunzip::HookEvents() {
  unzipper_.OnArchiveProgress = [this](void*, uint8_t progress, bool&) {
    bar_.SetArchivePercent(progress);
  };
  unzipper_.OnArchiveItemProgress = [this](void*, TAbArchiveItem* item, uint8_t progress, bool&) {
    // Several reports per item: the name is made only for a bar that shows.
    if (!bar_.Enabled()) return;
    bar_.SetItem(item ? SafeName(item->GetStoredName()) : std::string(), progress);
  };
  unzipper_.OnProcessItemFailure = [this](void*, TAbArchiveItem* item, TAbProcessType,
                                          TAbErrorClass, int32_t code) {
    if (!in_driver_ || code != AbZipBadCRC || item == nullptr) return;
    if (test_sink_ == nullptr) {
      Fail(item->GetStoredName(), ArchiveMessage(AbZipBadCRC), kExitArchiveError);
      return;
    }
    // Test mode says it on the item's line, with both values, as unzip.
    bar_.Clear();
    std::fputs(BadCrcLine(SafeName(item->GetStoredName()), test_sink_->Crc(), item->GetCrc32(),
                          options_.quiet > 0).c_str(), stdout);
    exit_code_ = std::max(exit_code_, kExitArchiveError);
    ++failures_;
  };
  if (!options_.password && TerminalAvailable()) {
    unzipper_.OnNeedPassword = [this](void*, std::string& password) {
      bar_.Clear();
      const auto answer =
          AskPassword("[" + SafeName(archive_path_) + "] " + SafeName(current_name_) + " password: ");
      password = answer.value_or("");
    };
  }
}

void Vunzip::ExtractOne(TAbZipArchive& archive, TAbZipItem& item, const std::string& name) {
  current_name_ = item.GetStoredName();
  current_item_ = &item;
  overwrite_declined_ = false;
  link_.reset();
  // unzip says "creating:" only for a folder it made.
  bool folder_existed = false;
  if (IsFolderItem(item)) {
    struct stat existing {};
    const std::string dir = options_.target_dir.empty() ? "." : options_.target_dir;
    folder_existed = stat((dir + "/" + item.GetStoredName()).c_str(), &existing) == 0;
  }
  // Reported, and still extracted: the data answers to the central CRC.
  if (!IsFolderItem(item)) (void)ReportLocalHeader(item);
  in_driver_ = true;
  try {
    UnzipItemToFile(archive, item, name);
  } catch (const std::exception& e) {
    in_driver_ = false;
    if (!Skipped(item, e)) Fail(item.GetStoredName(), InTheWay(item).value_or(e.what()), ExitCodeFor(e));
    throw;  // the archive reports it as an item failure and goes on
  }
  in_driver_ = false;
  if (link_ && !link_->second && options_.quiet < 2) {
    bar_.Clear();
    std::fflush(stdout);
    std::fprintf(stderr, "warning:  %s -> %s: a link that may lead out of the target folder is "
                 "written as a file holding its text\n", ShownName(item).c_str(),
                 SafeName(link_->first).c_str());
  }
  if (overwrite_declined_ || options_.quiet > 0) return;
  bar_.Clear();
  if (link_ && link_->second) {
    // unzip's line for a link it made.
    std::printf("    linking: %-22s  -> %s \n", ShownName(item).c_str(),
                SafeName(link_->first).c_str());
    links_made_.emplace_back(ShownName(item), SafeName(link_->first));
  } else if (IsFolderItem(item)) {
    if (!folder_existed) std::printf("   creating: %s\n", ShownName(item).c_str());
  } else {
    // unzip pads the name to 22 columns and leaves two blanks behind it.
    std::printf("%s: %-22s  \n", item.Method() == 0 ? " extracting" : "  inflating",
                ShownName(item).c_str());
  }
}

// -f and -u: an item is written only over an older file (-f), or also
// where there is none (-u). Times compare to the second; an item's DOS time
// is local time, as the file's is shown. -f makes no folder either.
bool Vunzip::WantedByFreshen(const TAbZipItem& item) const {
  if (options_.freshen == Freshen::kAll) return true;
  if (IsFolderItem(item)) return options_.freshen == Freshen::kNewerOrMissing;
  std::string name = item.GetStoredName();
  if (options_.junk_paths) {
    const size_t slash = name.find_last_of('/');
    if (slash != std::string::npos) name = name.substr(slash + 1);
  }
  const std::string dir = options_.target_dir.empty() ? "." : options_.target_dir;
  struct stat existing {};
  if (lstat((dir + "/" + name).c_str(), &existing) != 0) {
    return options_.freshen == Freshen::kNewerOrMissing;
  }
  return ItemSeconds(item) > static_cast<int64_t>(existing.st_mtime);
}

// unzip's question, asked on the terminal. Without one nobody can answer:
// as unzip does at the end of its input, the answer is [N]one, said once,
// and the run ends with a warning.
void Vunzip::AnswerOverwrite(std::string& target, bool& confirm) {
  confirm = false;
  if (options_.overwrite == Overwrite::kAlways || overwrite_all_) {
    confirm = true;
    return;
  }
  if (options_.overwrite == Overwrite::kNever || overwrite_none_) {
    overwrite_declined_ = true;
    return;
  }
  bar_.Clear();
  std::fflush(stdout);
  const std::string shown = current_item_ ? ShownName(*current_item_) : SafeName(current_name_);
  if (!TerminalAvailable() || isatty(STDIN_FILENO) != 1) {
    std::fprintf(stderr,
                 "replace %s? [y]es, [n]o, [A]ll, [N]one, [r]ename:  NULL\n"
                 "(EOF or read error, treating as \"[N]one\" ...)\n",
                 shown.c_str());
    overwrite_none_ = true;
    overwrite_declined_ = true;
    exit_code_ = std::max(exit_code_, kExitWarning);
    return;
  }
  for (;;) {
    const OverwriteQuestion answer = AskOverwrite(shown);
    switch (answer.answer) {
      case OverwriteAnswer::kYes: confirm = true; return;
      case OverwriteAnswer::kAll: confirm = overwrite_all_ = true; return;
      case OverwriteAnswer::kNo: overwrite_declined_ = true; return;
      case OverwriteAnswer::kNone:
        overwrite_none_ = overwrite_declined_ = true;
        return;
      case OverwriteAnswer::kRename: {
        // A new name for this item, inside the target folder like every
        // name: no absolute path, no ".." part.
        const std::string& name = answer.new_name;
        const bool safe = !name.empty() && name[0] != '/' && name.find('\\') == std::string::npos &&
                          ("/" + name + "/").find("/../") == std::string::npos;
        if (!safe) {
          std::fprintf(stderr, "vunzip: %s: not a name inside the target folder\n",
                       SafeName(name).c_str());
          continue;
        }
        std::string windows = name;
        std::replace(windows.begin(), windows.end(), '/', '\\');
        std::string base = archive_->BaseDirectory();
        if (!base.empty() && base.back() != '\\') base += '\\';
        target = base + windows;
        if (FileExists(target)) continue;  // asked again about the new name
        const size_t folder_end = target.find_last_of('\\');
        try {
          if (folder_end > base.size()) ForceDirectoryTree(target.substr(0, folder_end));
        } catch (const std::exception& e) {
          std::fprintf(stderr, "vunzip: %s: %s\n", SafeName(name).c_str(), e.what());
          continue;
        }
        confirm = true;
        return;
      }
    }
  }
}

int Vunzip::Extract() {
  std::error_code ec;
  const std::filesystem::path dir =
      options_.target_dir.empty() ? std::filesystem::current_path(ec)
                                  : std::filesystem::path(options_.target_dir);
  std::filesystem::create_directories(dir, ec);
  if (!std::filesystem::is_directory(dir, ec)) {
    std::fprintf(stderr, "vunzip: cannot create folder %s\n", dir.string().c_str());
    return kExitSevere;
  }
  try {
    unzipper_.SetExtractOptions(options_.junk_paths ? eoCreateDirs
                                                    : (eoCreateDirs | eoRestorePath));
    // A host path, handed over as one: a backslash in it is part of a name.
    archive_->SetHostBaseDirectory(std::filesystem::absolute(dir, ec).lexically_normal().string());
    // Only the superuser can give a file away; for anyone else -X is a
    // note, as the files stay theirs.
    archive_->RestoreOwners = options_.restore_owners && ::geteuid() == 0;
    if (options_.restore_owners && ::geteuid() != 0 && options_.quiet < 2) {
      std::fprintf(stderr, "vunzip: note: -X: owners are restored only when run as root; "
                           "extracted files belong to the user running vunzip\n");
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vunzip: cannot use folder %s: %s\n", dir.string().c_str(), e.what());
    return kExitSevere;
  }
  unzipper_.OnConfirmProcessItem = [this](void*, TAbArchiveItem* item, TAbProcessType,
                                          bool& confirm) {
    confirm = std::binary_search(selected_set_.begin(), selected_set_.end(), item) &&
              WantedByFreshen(*static_cast<const TAbZipItem*>(item));
  };
  unzipper_.OnConfirmOverwrite = [this](std::string& target, bool& confirm) {
    AnswerOverwrite(target, confirm);
  };
  // Overwriting without a question needs no handler, and without one the
  // engine does not look up every target before it writes it.
  const bool asks = options_.overwrite != Overwrite::kAlways;
  if (!asks) archive_->OnConfirmOverwrite = nullptr;
  // The same name twice in one archive: the later item replaces the file
  // the earlier one wrote, as unzip -o does without a word (and with exit
  // code 0, which stays). Saying so tells the user the first one is gone.
  archive_->OnItemWarning = [this](TAbArchiveItem* item, const std::string&) {
    if (options_.quiet > 1 || item == nullptr) return;
    bar_.Clear();
    std::fflush(stdout);
    std::fprintf(stderr, "warning:  %s replaces the file extracted from an earlier entry of the "
                 "same name\n", ShownName(*item).c_str());
  };
  // A link whose target leads out of the target folder is written as a
  // file: unzip would have made the link, so the run ends with a warning.
  archive_->OnLink = [this](TAbZipItem&, const std::string& text, bool restored) {
    link_.emplace(text, restored);
    if (!restored) exit_code_ = std::max(exit_code_, kExitWarning);
  };
  archive_->ExtractFileCallback = [this](TAbZipArchive& archive, TAbZipItem& item,
                                         const std::string& name) {
    ExtractOne(archive, item, name);
  };
  try {
    // Every item passes the masks here ("*" misses folder entries, "*\"
    // catches them); the selection is made by the confirmation handler.
    archive_->ExtractByMaskExcept("*;*\\", "");
  } catch (const std::exception& e) {
    bar_.Clear();
    std::fprintf(stderr, "vunzip: %s\n", e.what());
    exit_code_ = std::max(exit_code_, ExitCodeFor(e));
  }
  // Folders get their stored times, and the modes that shut their owner
  // out, last: as unzip, after the files inside them.
  TargetFolder::ApplyFolderSettings();
  // unzip makes its links last and lists them here. Ours were made in
  // their turn (nothing is ever written through one), and the list is
  // printed as unzip prints it, for those who read the output.
  if (!links_made_.empty()) {
    bar_.Clear();
    std::printf("finishing deferred symbolic links:\n");
    for (const auto& [name, text] : links_made_) std::printf("  %-22s -> %s\n", name.c_str(), text.c_str());
  }
  return exit_code_;
}

// The listings say nothing about a mask that matched nothing (their exit
// code does); test mode says it among its lines, the others on stderr.
void Vunzip::PrintUnmatched(std::FILE* out) {
  bar_.Clear();
  std::fflush(stdout);
  for (const std::string& mask : unmatched_) {
    std::fprintf(out, "caution: filename not matched:  %s\n", SafeName(mask).c_str());
  }
}

std::string Vunzip::Comment() const { return archive_->EndRecord().ZipfileComment; }

int Vunzip::Test() {
  if (options_.quiet == 0) PrintArchiveHeader(stdout, archive_path_, Comment());
  std::fputs(extra_bytes_warning_.c_str(), stdout);
  TStream* own = SingleFileStream();
  if (own == nullptr && !raw_) raw_.emplace(archive_path_, std::ios::binary);
  for (TAbZipItem* item : selected_) {
    current_name_ = item->GetStoredName();
    const auto damage = own != nullptr ? LocalExtraFieldDamage(*own, *item)
                                       : LocalExtraFieldDamage(*raw_, *item);
    if (damage) {
      // unzip's words, on its line, and the item is not decompressed.
      bar_.Clear();
      std::printf("    testing: %-22s  %s\n", SafeName(current_name_).c_str(), damage->c_str());
      exit_code_ = std::max(exit_code_, kExitArchiveError);
      ++failures_;
      continue;
    }
    const int failures_before = failures_;
    (void)ReportLocalHeader(*item);
    CrcCountingBucket bucket;
    test_sink_ = &bucket;
    archive_->ActiveItem = item;
    in_driver_ = true;
    try {
      UnzipItemToStream(*archive_, *item, &bucket);
    } catch (const std::exception& e) {
      if (!Skipped(*item, e)) Fail(item->GetStoredName(), e.what(), ExitCodeFor(e));
    }
    in_driver_ = false;
    test_sink_ = nullptr;
    if (failures_ == failures_before && options_.quiet == 0) {
      bar_.Clear();
      std::printf("    testing: %-22s   OK\n", SafeName(item->GetStoredName()).c_str());
    }
    if (exit_code_ == kExitAborted) break;
  }
  PrintUnmatched(stdout);
  if (options_.quiet < 2) {
    const std::string name = SafeName(archive_path_);
    const int skipped = unsupported_ + bad_password_;
    const size_t tested = selected_.size() - static_cast<size_t>(skipped);
    if ((selected_.empty() && unmatched_.empty()) || (tested == 0 && skipped > 0)) {
      std::printf("Caution:  zero files tested in %s.\n", name.c_str());
    } else if (exit_code_ == kExitWarning && header_warnings_) {
      std::printf("At least one warning-error was detected in %s.\n", name.c_str());
    } else if ((exit_code_ <= kExitWarning ||
                (exit_code_ == kExitUnsupported && failures_ == skipped)) &&
               (!options_.include.empty() || skipped > 0)) {
      std::printf("No errors detected in %s for the %zu file%s tested.\n", name.c_str(), tested,
                  tested == 1 ? "" : "s");
    } else if (exit_code_ <= kExitWarning) {
      std::printf("No errors detected in compressed data of %s.\n", name.c_str());
    } else {
      std::printf("At least one error was detected in %s.\n", name.c_str());
    }
    if (unsupported_ > 0) {
      std::printf("%d file%s skipped because of unsupported compression or encoding.\n",
                  unsupported_, unsupported_ == 1 ? "" : "s");
    }
    if (bad_password_ > 0) {
      std::printf("%d file%s skipped because of incorrect password.\n", bad_password_,
                  bad_password_ == 1 ? "" : "s");
    }
  }
  return exit_code_;
}

// Each item goes through a temporary file first: the legacy expanders seek
// in their output, which a pipe cannot do. With -c each item is announced,
// as unzip does on the screen.
int Vunzip::Pipe() {
  if (options_.pipe_with_names && options_.quiet == 0) {
    PrintArchiveHeader(stdout, archive_path_, Comment());
  }
  std::fflush(stdout);
  for (TAbZipItem* item : selected_) {
    if (IsFolderItem(*item)) {
      // -c names a folder too, with no data under it.
      if (options_.pipe_with_names && options_.quiet == 0) {
        std::printf(" extracting: %-22s  \n\n", SafeName(item->GetStoredName()).c_str());
      }
      continue;
    }
    current_name_ = item->GetStoredName();
    archive_->ActiveItem = item;
    // Announced once its data is decoded: an item skipped for its password
    // gets only the skipping line, as with unzip.
    bool announced = false;
    const auto announce = [&] {
      if (!options_.pipe_with_names || options_.quiet != 0) return;
      std::printf("%s: %-22s  \n", item->Method() == 0 ? " extracting" : "  inflating",
                  SafeName(item->GetStoredName()).c_str());
      announced = true;
    };
    in_driver_ = true;
    try {
      TAbTempFileStream temp(true);
      UnzipItemToStream(*archive_, *item, &temp);
      announce();
      temp.Seek(0, soFromBeginning);
      std::vector<uint8_t> buffer(1 << 16);
      for (int32_t got; (got = temp.Read(buffer.data(), static_cast<int32_t>(buffer.size()))) > 0;) {
        if (std::fwrite(buffer.data(), 1, static_cast<size_t>(got), stdout) !=
            static_cast<size_t>(got)) {
          throw Exception("cannot write to standard output");
        }
      }
    } catch (const std::exception& e) {
      if (!SkippedForPassword(*item, e)) {
        if (!announced) announce();
        Fail(item->GetStoredName(), e.what(), ExitCodeFor(e));
      }
    }
    in_driver_ = false;
    if (announced) std::fputc('\n', stdout);
  }
  std::fflush(stdout);
  return exit_code_;
}

int Vunzip::ZipInfo() {
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
    PrintZipInfo(stdout, shown, selected_, options_.zipinfo, !options_.include.empty());
  }
  std::fflush(stdout);
  return exit_code_;
}

int Vunzip::Run() {
  if (!OpenArchive()) return exit_code_;
  SelectItems();
  switch (options_.mode) {
    case Mode::kZipInfo:
      PrintUnmatched(stderr);
      return ZipInfo();
    case Mode::kList:
    case Mode::kVerboseList:
      if (options_.quiet == 0) PrintArchiveHeader(stdout, archive_path_, Comment());
      if (options_.mode == Mode::kList) {
        PrintList(stdout, selected_, options_.quiet);
      } else {
        PrintVerboseList(stdout, selected_, options_.quiet);
      }
      std::fflush(stdout);
      return exit_code_;
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
  if (options_.stamp_archive && options_.mode == Mode::kExtract &&
      !StampWithNewestItem(*archive_, archive_path_)) {
    std::fprintf(stderr, "vunzip: cannot set the time of %s\n", SafeName(archive_path_).c_str());
    exit_code_ = std::max(exit_code_, kExitWarning);
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
    if (options_.include.empty()) return exit_code_;  // an empty archive
    return std::max(exit_code_, kExitNoMatch);
  }
  HookEvents();
  return WithPasswordSkips(options_.mode == Mode::kPipe ? Pipe() : Extract());
}

// Items skipped for an incorrect password end the run with unzip's code:
// 82 when every selected item was one of them, else a warning.
int Vunzip::WithPasswordSkips(int code) const {
  if (bad_password_ == 0) return code;
  const bool all = static_cast<size_t>(bad_password_) == selected_.size();
  return std::max(code, all ? kExitBadPassword : kExitWarning);
}

// One archive: whether its directory was found, and its exit code.
int RunOne(Options options, bool several, bool separate, bool& no_directory) {
  Vunzip run(std::move(options), several, separate);
  const int code = run.Run();
  no_directory = run.NoDirectory();
  return code;
}

}  // namespace
}  // namespace velmora::vunzip

// SIGINT, SIGTERM and SIGHUP stop a run as unzip's "aborted" (80). A file
// being written has no name yet and goes with the process; what has a
// name (a hidden temporary file, the pipe mode's temporary file, either of
// which may hold decrypted data) is removed first.
extern "C" void StopOnSignal(int) {
  velmora::RemovePendingTempFiles();
  ::_exit(80);
}

int main(int argc, char** argv) {
  using namespace velmora::vunzip;
  struct sigaction stop {};
  stop.sa_handler = StopOnSignal;
  sigemptyset(&stop.sa_mask);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal_number, &stop, nullptr);
  std::vector<std::string> args(argv + 1, argv + argc);
  // Started as vzipinfo (a link), or asked with -Z first: zipinfo mode,
  // whose default options come from ZIPINFO, unzip's from UNZIP.
  const std::string program = std::filesystem::path(argc > 0 ? argv[0] : "").filename().string();
  const bool zipinfo = program.find("zipinfo") != std::string::npos;
  const bool zipinfo_first = !args.empty() && args[0].rfind("-Z", 0) == 0;
  const char* defaults = nullptr;
  for (const char* name : (zipinfo || zipinfo_first) ? std::vector<const char*>{"ZIPINFO", "ZIPINFOOPT"}
                                                      : std::vector<const char*>{"UNZIP", "UNZIPOPT"}) {
    if ((defaults = std::getenv(name)) != nullptr) break;
  }
  ParseResult parsed = ParseCommandLine(args, zipinfo, defaults ? defaults : "");
  if (parsed.options.mode == Mode::kHelp) {
    std::fputs(HelpText().c_str(), stdout);
    return kExitOk;
  }
  if (parsed.options.mode == Mode::kZipInfoHelp) {
    std::fputs(ZipInfoHelpText().c_str(), stdout);
    return kExitOk;
  }
  if (parsed.options.mode == Mode::kVersion) {
    std::printf("vunzip, Velmora extraction engine %s\n", velmora::TAbUnZipper().Version().c_str());
    return kExitOk;
  }
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "vunzip: %s\nTry 'vunzip --help' for more information.\n",
                 parsed.error.c_str());
    return kExitBadOptions;
  }
  for (const std::string& note : parsed.options.notes) {
    std::fprintf(stderr, "vunzip: note: %s\n", note.c_str());
  }
  std::FILE* pager = parsed.options.pager ? StartPager() : nullptr;
  int code = kExitSevere;
  try {
    code = RunArchives(std::move(parsed.options), RunOne);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vunzip: %s\n", e.what());
  }
  if (pager != nullptr) {
    std::fflush(stdout);
    close(STDOUT_FILENO);
    pclose(pager);
  }
  return code;
}
