// One archive's run of vunzip: finding and opening it, selecting its items
// by the masks, and listing, testing, piping or extracting them with
// unzip's lines, messages and exit codes. The modes that write files
// (extract_items.cpp) and the ones that only read the items
// (test_and_pipe.cpp) have files of their own.
#pragma once

#include <cstdio>
#include <exception>
#include <fstream>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "archive/unzipper/unzipper.h"
#include "archive/zip/zip_archive.h"
#include "tools/vunzip/damage.h"
#include "tools/vunzip/name_case.h"
#include "tools/vunzip/options.h"
#include "tools/vunzip/terminal.h"
#include "tools/vunzip/zipinfo.h"

namespace velmora::vunzip {

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

// The exit code of an item's failure, as unzip's.
int ExitCodeFor(const std::exception& e);

// The work vunzip does on one archive with the options of its command
// line; Run gives the archive's exit code. Not reused: one per archive.
class ArchiveRun {
 public:
  // several: one of several archives of a run, which leaves out the line
  // that names the one archive given; separate: a blank line goes before
  // this archive's listing, as unzip puts one between archives.
  explicit ArchiveRun(Options options, bool several = false, bool separate = false)
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
  int Stamp();
  int ZipInfo();
  int EmptyArchive();
  bool WantedByFreshen(const TAbZipItem& item) const;
  int WithPasswordSkips(int code) const;
  bool SkippedForPassword(const TAbZipItem& item, const std::exception& e);
  void AnswerOverwrite(std::string& target, bool& confirm);
  void PrintUnmatched(std::FILE* out);
  std::string Comment() const;
  void ExtractOne(TAbZipArchive& archive, TAbZipItem& item, const std::string& name);
  void Fail(const std::string& name, const std::string& message, int code);
  bool Skipped(const TAbZipItem& item, const std::exception& e);
  bool SkippedWithoutPassword(const TAbZipItem& item);
  // Before a file in the way or -f/-u: the item's password, asked for and
  // checked as unzip does then. False when the item is skipped or failed.
  bool PasswordChecked(const TAbZipItem& item);
  // The item whose name the lines and questions show from here on.
  void StartItem(const TAbZipItem& item);
  // Says why the item is skipped (its method when unsupported, else no
  // password) and counts it as failed.
  void SkipItem(const TAbZipItem& item, bool unsupported);
  bool ZipInfoHeaderShown() const {
    return options_.mode == Mode::kZipInfo && options_.zipinfo.format != ZipInfoFormat::kVerbose &&
           ZipInfoShowsHeader(options_.zipinfo, options_.HasMasks());
  }
  std::optional<std::string> InTheWay(const TAbZipItem& item) const;
  bool ReportLocalHeader(const TAbZipItem& item, const LocalHeaderReport* read = nullptr);
  std::string ShownName(const TAbArchiveItem& item) const;
  // The item's name as this run reads it: lowered under -L / -LL.
  std::string NameOf(const TAbArchiveItem& item) const {
    return name_case_.NameOf(static_cast<const TAbZipItem&>(item));
  }
  static bool UsesBackslashes(const TAbZipItem& item);
  static std::string WithoutControlCharacters(std::string name);
  // The folder extraction writes into (-d, else the current one), and its
  // making (said on failure).
  std::filesystem::path TargetFolderPath() const;
  bool MakeTargetFolder() const;
  // The engine's text mode for -a / -aa, and -a's "[text]  ", "[binary]"
  // or "[empty] " behind an item's extraction line ("" without -a, and
  // with -aa).
  TAbZipArchive::TAbTextMode ArchiveTextMode() const;
  const char* TextMark(const TAbZipItem& item) const;
  // The archive's own stream, for reading local headers, when the archive
  // is one file: its buffer holds the header already, so a header costs no
  // system call. A spanned archive's stream may stand on another disk, so
  // there the last file is read on its own.
  TStream* SingleFileStream() const {
    return archive_ != nullptr && !archive_->Spanned ? archive_->Stream() : nullptr;
  }

  Options options_;
  NameCase name_case_{options_.lowercase};
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
  std::vector<std::string> unmatched_excludes_;  // -x masks that left nothing out
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
  bool backslashes_noted_ = false;  // the warning about MS-DOS backslashes was given
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
  // Counts StartItem; the password question asked last was for item
  // number asked_for_: asked again for it, it is unzip's "reenter" one.
  uint64_t item_number_ = 0;
  uint64_t asked_for_ = 0;
  // An empty answer to the first question for an item: as unzip, no more
  // questions, and every item still to be decrypted is skipped.
  bool passwords_declined_ = false;
  // The current item is a stored symbolic link: its text, and whether it
  // became a link (or a file holding the text).
  std::optional<std::pair<std::string, bool>> link_;
  // Links made in this run, as shown: unzip lists them again at the end.
  std::vector<std::pair<std::string, std::string>> links_made_;
};

// One archive: whether its directory was found, and its exit code.
int RunOne(Options options, bool several, bool separate, bool& no_directory);

}  // namespace velmora::vunzip
