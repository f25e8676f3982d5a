// Extraction into the target folder (the default mode, -f, -u): the
// engine's driver writes each selected item, and this file answers its
// questions (overwrite, freshen) and prints unzip's line per item.
#include "tools/vunzip/archive_run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "archive/base/directories.h"
#include "archive/base/exceptions.h"
#include "archive/zip/zip_extract.h"
#include "platform/folder_handles.h"
#include "platform/sysutils.h"
#include "tools/vunzip/listing.h"

namespace velmora::vunzip {

void ArchiveRun::ExtractOne(TAbZipArchive& archive, TAbZipItem& item, const std::string& name) {
  StartItem(item);
  current_item_ = &item;
  overwrite_declined_ = false;
  link_.reset();
  // unzip says "creating:" only for a folder it made.
  bool folder_existed = false;
  if (IsFolderItem(item)) {
    struct stat existing {};
    const std::string dir = options_.target_dir.empty() ? "." : options_.target_dir;
    folder_existed =
        stat((dir + "/" + WithoutControlCharacters(NameOf(item))).c_str(), &existing) == 0;
  }
  // Reported, and still extracted: the data answers to the central CRC.
  if (!IsFolderItem(item)) (void)ReportLocalHeader(item);
  // Said once, whatever -q: the names then are not what the listing shows.
  if (UsesBackslashes(item) && !backslashes_noted_) {
    backslashes_noted_ = true;
    exit_code_ = std::max(exit_code_, kExitWarning);  // a warning, as unzip's exit code says
    bar_.Clear();
    std::fflush(stdout);
    std::fprintf(stderr, "warning:  %s appears to use backslashes as path separators\n",
                 SafeName(archive_path_).c_str());
  }
  in_driver_ = true;
  try {
    UnzipItemToFile(archive, item, WithoutControlCharacters(name_case_.Apply(item, name)));
  } catch (const std::exception& e) {
    in_driver_ = false;
    if (!Skipped(item, e)) Fail(NameOf(item), InTheWay(item).value_or(e.what()), ExitCodeFor(e));
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
    // unzip pads the name to 22 columns and leaves two blanks behind it;
    // -a (once) tells how each file was written.
    std::printf("%s: %-22s  %s\n", ExtractionVerb(item),
                ShownName(item).c_str(), TextMark(item));
  }
}

// -f and -u: an item is written only over an older file (-f), or also
// where there is none (-u). Times compare to the second; an item's DOS time
// is local time, as the file's is shown. -f makes no folder either.
bool ArchiveRun::WantedByFreshen(const TAbZipItem& item) const {
  if (options_.freshen == Freshen::kAll) return true;
  if (IsFolderItem(item)) return options_.freshen == Freshen::kNewerOrMissing;
  std::string name = NameOf(item);
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
void ArchiveRun::AnswerOverwrite(std::string& target, bool& confirm) {
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

bool ArchiveRun::MakeTargetFolder() const {
  std::error_code ec;
  const std::filesystem::path dir = TargetFolderPath();
  std::filesystem::create_directories(dir, ec);
  if (std::filesystem::is_directory(dir, ec)) return true;
  std::fprintf(stderr, "vunzip: cannot create folder %s\n", dir.string().c_str());
  return false;
}

std::filesystem::path ArchiveRun::TargetFolderPath() const {
  std::error_code ec;
  return options_.target_dir.empty() ? std::filesystem::current_path(ec)
                                     : std::filesystem::path(options_.target_dir);
}

int ArchiveRun::Extract() {
  std::error_code ec;
  const std::filesystem::path dir = TargetFolderPath();
  // -f writes only over files there: without the folder there are none.
  if (options_.freshen == Freshen::kExistingOnly && !std::filesystem::exists(dir, ec)) {
    return exit_code_;
  }
  if (!MakeTargetFolder()) return kExitSevere;
  try {
    unzipper_.SetExtractOptions(options_.junk_paths ? eoCreateDirs
                                                    : (eoCreateDirs | eoRestorePath));
    // A host path, handed over as one: a backslash in it is part of a name.
    archive_->SetHostBaseDirectory(std::filesystem::absolute(dir, ec).lexically_normal().string());
    // Only the superuser can give a file away; for anyone else -X is a
    // note, as the files stay theirs.
    archive_->RestoreOwners = options_.restore_owners && ::geteuid() == 0;
    archive_->TextMode = ArchiveTextMode();
    archive_->RestoreFolderTimes = options_.skip_times == 0;
    archive_->RestoreFileTimes = options_.skip_times < 2;
    // As unzip's -B: a file in the way is kept, not asked about (not even
    // under -n); with -o the one NAME~ is reused.
    if (options_.backup) {
      archive_->BackupReplaced = options_.overwrite == Overwrite::kAlways
                                     ? TAbZipArchive::TAbBackup::kTilde
                                     : TAbZipArchive::TAbBackup::kNumbered;
    }
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
    const auto& zip_item = *static_cast<const TAbZipItem*>(item);
    confirm = std::binary_search(selected_set_.begin(), selected_set_.end(), item) &&
              !SkippedWithoutPassword(zip_item) && PasswordChecked(zip_item) &&
              WantedByFreshen(zip_item);
  };
  unzipper_.OnConfirmOverwrite = [this](std::string& target, bool& confirm) {
    AnswerOverwrite(target, confirm);
  };
  // Overwriting without a question needs no handler, and without one the
  // engine does not look up every target before it writes it.
  const bool asks = options_.overwrite != Overwrite::kAlways && !options_.backup;
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

}  // namespace velmora::vunzip
