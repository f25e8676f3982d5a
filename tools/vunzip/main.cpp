// vunzip: lists, tests and extracts ZIP archives with the engine the
// installer unpacks itself with. Options and exit codes follow unzip.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "archive/base/archive.h"
#include "archive/base/exceptions.h"
#include "archive/base/temp_files.h"
#include "archive/inflate/inflate_errors.h"
#include "archive/unzipper/archive_kind.h"
#include "archive/unzipper/unzipper.h"
#include "archive/zip/bit_bucket_stream.h"
#include "archive/zip/zip_archive.h"
#include "archive/zip/zip_extract.h"
#include "platform/paths.h"
#include "tools/vunzip/listing.h"
#include "tools/vunzip/options.h"
#include "tools/vunzip/terminal.h"

namespace velmora::vunzip {
namespace {

// Exit codes, as unzip's.
constexpr int kExitOk = 0;
constexpr int kExitWarning = 1;
constexpr int kExitArchiveError = 2;
constexpr int kExitSevere = 3;
constexpr int kExitNotFound = 9;
constexpr int kExitZipBomb = 12;
constexpr int kExitBadOptions = 10;
constexpr int kExitNoMatch = 11;
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
  if (dynamic_cast<const EAbZipInvalidMethod*>(&e) || dynamic_cast<const EAbZipVersion*>(&e)) {
    return kExitUnsupported;
  }
  return kExitArchiveError;
}

class Vunzip {
 public:
  explicit Vunzip(Options options)
      : options_(std::move(options)),
        bar_(options_.quiet < 2 &&
             (options_.mode == Mode::kExtract || options_.mode == Mode::kTest)) {}

  int Run();

 private:
  bool OpenArchive();
  void SelectItems();
  void HookEvents();
  int Extract();
  int Test();
  int Pipe();
  void ExtractOne(TAbZipArchive& archive, TAbZipItem& item, const std::string& name);
  void Fail(const std::string& name, const std::string& message, int code);
  std::string ShownName(const TAbArchiveItem& item) const;

  Options options_;
  ProgressBar bar_;
  TAbUnZipper unzipper_;
  TAbZipArchive* archive_ = nullptr;
  std::vector<TAbZipItem*> selected_;
  std::set<const TAbArchiveItem*> selected_set_;
  int exit_code_ = kExitOk;
  // Counts every failed item, so that a later failure with the same exit
  // code as an earlier one is still seen as a failure.
  int failures_ = 0;
  // Inside the driver a CRC mismatch is reported to the failure event
  // rather than raised; outside it, the event repeats a failure the
  // callback wrapper has already printed.
  bool in_driver_ = false;
  bool overwrite_declined_ = false;
  bool overwrite_all_ = false;
  bool overwrite_none_ = false;
  std::string current_name_;
};

void Vunzip::Fail(const std::string& name, const std::string& message, int code) {
  bar_.Clear();
  std::fprintf(stderr, "vunzip: %s: %s\n", name.c_str(), message.c_str());
  exit_code_ = std::max(exit_code_, code);
  ++failures_;
}

std::string Vunzip::ShownName(const TAbArchiveItem& item) const {
  std::string name = item.GetStoredName();
  if (options_.junk_paths) {
    const size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos) name = name.substr(slash + 1);
  }
  if (options_.target_dir.empty()) return name;
  std::string dir = options_.target_dir;
  if (dir.back() != '/') dir += '/';
  return dir + name;
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
      std::fprintf(stderr, "vunzip: cannot find or open %s\n", options_.archive.c_str());
      exit_code_ = kExitNotFound;
      return false;
    }
  }
  const std::string windows_name =
      WindowsPath(std::filesystem::absolute(host, ec).lexically_normal().string());
  try {
    if (DetectArchiveKind(windows_name) == akUnknown) {
      unzipper_.ForceKind = true;
      unzipper_.SetArchiveKind(akZip);
    }
    if (options_.password) unzipper_.SetPassword(*options_.password);
    unzipper_.SetFileName(windows_name);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vunzip: cannot read %s: %s\n", options_.archive.c_str(), e.what());
    exit_code_ = dynamic_cast<const EAbFileNotFound*>(&e) ? kExitNotFound
                 : dynamic_cast<const EAbZipOverlap*>(&e) ? kExitZipBomb
                                                           : kExitSevere;
    return false;
  }
  archive_ = unzipper_.ZipArchive();
  if (archive_ != nullptr && archive_->ExtraBytes > 0) {
    // As unzip says it, and with its exit code for a warning.
    std::fprintf(stderr,
                 "warning [%s]:  %lld extra bytes at beginning or within zipfile\n"
                 "  (attempting to process anyway)\n",
                 options_.archive.c_str(), static_cast<long long>(archive_->ExtraBytes));
    exit_code_ = std::max(exit_code_, kExitWarning);
  }
  return archive_ != nullptr;
}

void Vunzip::SelectItems() {
  std::vector<bool> include_used(options_.include.size(), false);
  for (int i = 0; i < archive_->ItemCount(); ++i) {
    TAbZipItem* item = archive_->ZipItems(i);
    // Flat, a folder entry has no name to write.
    if (options_.junk_paths && IsFolderItem(*item)) continue;
    bool included = options_.include.empty();
    for (size_t m = 0; m < options_.include.size(); ++m) {
      if (ItemMatchesMask(*item, options_.include[m])) {
        included = true;
        include_used[m] = true;
      }
    }
    if (!included) continue;
    const bool excluded =
        std::any_of(options_.exclude.begin(), options_.exclude.end(),
                    [item](const std::string& mask) { return ItemMatchesMask(*item, mask); });
    if (excluded) continue;
    selected_.push_back(item);
    selected_set_.insert(item);
  }
  for (size_t m = 0; m < options_.include.size(); ++m) {
    if (include_used[m]) continue;
    std::fprintf(stderr, "caution: filename not matched:  %s\n", options_.include[m].c_str());
    exit_code_ = std::max(exit_code_, kExitNoMatch);
  }
}

void Vunzip::HookEvents() {
  unzipper_.OnArchiveProgress = [this](void*, uint8_t progress, bool&) {
    bar_.SetArchivePercent(progress);
  };
  unzipper_.OnArchiveItemProgress = [this](void*, TAbArchiveItem* item, uint8_t progress, bool&) {
    bar_.SetItem(item ? item->GetStoredName() : std::string(), progress);
  };
  unzipper_.OnProcessItemFailure = [this](void*, TAbArchiveItem* item, TAbProcessType,
                                          TAbErrorClass, int32_t code) {
    if (in_driver_ && code == AbZipBadCRC && item != nullptr) {
      Fail(item->GetStoredName(), ArchiveMessage(AbZipBadCRC), kExitArchiveError);
    }
  };
  if (!options_.password && TerminalAvailable()) {
    unzipper_.OnNeedPassword = [this](void*, std::string& password) {
      bar_.Clear();
      const auto answer =
          AskPassword("[" + options_.archive + "] " + current_name_ + " password: ");
      password = answer.value_or("");
    };
  }
}

void Vunzip::ExtractOne(TAbZipArchive& archive, TAbZipItem& item, const std::string& name) {
  current_name_ = item.GetStoredName();
  overwrite_declined_ = false;
  in_driver_ = true;
  try {
    UnzipItemToFile(archive, item, name);
  } catch (const std::exception& e) {
    in_driver_ = false;
    Fail(item.GetStoredName(), e.what(), ExitCodeFor(e));
    throw;  // the archive reports it as an item failure and goes on
  }
  in_driver_ = false;
  if (overwrite_declined_ || options_.quiet > 0) return;
  bar_.Clear();
  const char* verb = IsFolderItem(item) ? "   creating" : item.Method() == 0 ? " extracting"
                                                                               : "  inflating";
  std::printf("%s: %s\n", verb, ShownName(item).c_str());
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
    unzipper_.SetBaseDirectory(
        WindowsPath(std::filesystem::absolute(dir, ec).lexically_normal().string()));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vunzip: cannot use folder %s: %s\n", dir.string().c_str(), e.what());
    return kExitSevere;
  }
  unzipper_.OnConfirmProcessItem = [this](void*, TAbArchiveItem* item, TAbProcessType,
                                          bool& confirm) {
    confirm = selected_set_.count(item) != 0;
  };
  unzipper_.OnConfirmOverwrite = [this](std::string&, bool& confirm) {
    switch (options_.overwrite) {
      case Overwrite::kAlways: confirm = true; break;
      case Overwrite::kNever: confirm = false; break;
      case Overwrite::kAsk:
        if (overwrite_all_ || !TerminalAvailable() || isatty(STDIN_FILENO) != 1) {
          confirm = !overwrite_none_;
          break;
        }
        if (overwrite_none_) {
          confirm = false;
          break;
        }
        bar_.Clear();
        switch (AskOverwrite(current_name_)) {
          case OverwriteAnswer::kYes: confirm = true; break;
          case OverwriteAnswer::kNo: confirm = false; break;
          case OverwriteAnswer::kAll: confirm = overwrite_all_ = true; break;
          case OverwriteAnswer::kNone: confirm = false; overwrite_none_ = true; break;
        }
        break;
    }
    if (!confirm) overwrite_declined_ = true;
  };
  // Overwriting without a question needs no handler, and without one the
  // engine does not look up every target before it writes it.
  const bool asks = options_.overwrite == Overwrite::kNever ||
                    (options_.overwrite == Overwrite::kAsk && TerminalAvailable() &&
                     isatty(STDIN_FILENO) == 1);
  if (!asks) archive_->OnConfirmOverwrite = nullptr;
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
  return exit_code_;
}

int Vunzip::Test() {
  for (TAbZipItem* item : selected_) {
    current_name_ = item->GetStoredName();
    const int failures_before = failures_;
    TAbBitBucketStream bucket;
    archive_->ActiveItem = item;
    in_driver_ = true;
    try {
      UnzipItemToStream(*archive_, *item, &bucket);
    } catch (const std::exception& e) {
      Fail(item->GetStoredName(), e.what(), ExitCodeFor(e));
    }
    in_driver_ = false;
    if (failures_ == failures_before && options_.quiet == 0) {
      bar_.Clear();
      std::printf("    testing: %-40s OK\n", item->GetStoredName().c_str());
    }
    if (exit_code_ == kExitAborted) break;
  }
  bar_.Clear();
  if (options_.quiet < 2) {
    if (exit_code_ <= kExitWarning) {
      std::printf("No errors detected in compressed data of %s.\n", options_.archive.c_str());
    } else {
      std::printf("At least one error was detected in %s.\n", options_.archive.c_str());
    }
  }
  return exit_code_;
}

// Each item goes through a temporary file first: the legacy expanders seek
// in their output, which a pipe cannot do.
int Vunzip::Pipe() {
  std::fflush(stdout);
  for (TAbZipItem* item : selected_) {
    if (IsFolderItem(*item)) continue;
    current_name_ = item->GetStoredName();
    archive_->ActiveItem = item;
    in_driver_ = true;
    try {
      TAbTempFileStream temp(true);
      UnzipItemToStream(*archive_, *item, &temp);
      temp.Seek(0, soFromBeginning);
      std::vector<uint8_t> buffer(1 << 16);
      for (int32_t got; (got = temp.Read(buffer.data(), static_cast<int32_t>(buffer.size()))) > 0;) {
        if (std::fwrite(buffer.data(), 1, static_cast<size_t>(got), stdout) !=
            static_cast<size_t>(got)) {
          throw Exception("cannot write to standard output");
        }
      }
    } catch (const std::exception& e) {
      Fail(item->GetStoredName(), e.what(), ExitCodeFor(e));
    }
    in_driver_ = false;
  }
  std::fflush(stdout);
  return exit_code_;
}

int Vunzip::Run() {
  if (!OpenArchive()) return exit_code_;
  if (options_.mode == Mode::kList || options_.mode == Mode::kVerboseList) {
    SelectItems();
    if (options_.mode == Mode::kList) {
      PrintList(stdout, options_.archive, selected_);
    } else {
      PrintVerboseList(stdout, options_.archive, selected_);
    }
    return exit_code_;
  }
  SelectItems();
  if (selected_.empty()) {
    if (options_.include.empty()) return exit_code_;  // an empty archive
    return std::max(exit_code_, kExitNoMatch);
  }
  HookEvents();
  if (options_.mode == Mode::kTest) return Test();
  if (options_.mode == Mode::kPipe) return Pipe();
  if (options_.quiet == 0) std::printf("Archive:  %s\n", options_.archive.c_str());
  return Extract();
}

}  // namespace
}  // namespace velmora::vunzip

int main(int argc, char** argv) {
  using namespace velmora::vunzip;
  std::vector<std::string> args(argv + 1, argv + argc);
  ParseResult parsed = ParseCommandLine(args);
  if (parsed.options.mode == Mode::kHelp) {
    std::fputs(HelpText().c_str(), stdout);
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
  try {
    Vunzip run(std::move(parsed.options));
    return run.Run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vunzip: %s\n", e.what());
    return kExitSevere;
  }
}
