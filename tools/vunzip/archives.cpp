#include "tools/vunzip/archives.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

#include "archive/zip/zip_archive.h"
#include "archive/zip/zip_directory.h"
#include "tools/vunzip/listing.h"
#include "tools/vunzip/wildcard.h"
#include "tools/vunzip/zipinfo.h"

namespace velmora::vunzip {

bool HasWildcard(const std::string& name) {
  // As unzip reads it: a "\\" makes the character behind it an ordinary one.
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '\\') {
      ++i;
    } else if (name[i] == '*' || name[i] == '?' || name[i] == '[') {
      return true;
    }
  }
  return false;
}

bool HasEndRecordSignature(const std::string& path) {
  // The end record (22 bytes, APPNOTE 4.3.16) with a comment of up to
  // 65,535 bytes: its signature lies in the file's last 65,557 bytes.
  constexpr std::streamoff kTail = 22 + 65535;
  std::ifstream in(path, std::ios::binary);
  if (!in.seekg(0, std::ios::end)) return false;
  const std::streamoff size = in.tellg();
  const std::streamoff start = size > kTail ? size - kTail : 0;
  std::string tail(static_cast<size_t>(size - start), '\0');
  in.seekg(start);
  if (!in.read(tail.data(), static_cast<std::streamsize>(tail.size()))) return false;
  return tail.find(std::string("PK\x05\x06", 4)) != std::string::npos;
}

std::vector<std::string> MatchArchives(const std::string& pattern) {
  const size_t slash = pattern.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : pattern.substr(0, slash + 1);
  const std::string mask = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
  std::vector<std::string> found;
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.empty() ? "." : folder.c_str()),
                                                closedir);
  if (!dir) return found;
  // readdir's order, not sorted: unzip processes the files in the order the
  // folder gives them, and scripts comparing outputs see the same order.
  while (const dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    // A leading dot is matched only by one in the mask, as the shell does.
    if (name[0] == '.' && mask[0] != '.') continue;
    if (!WildcardMatch(mask, name, false)) continue;
    struct stat st {};
    if (stat((folder + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    found.push_back(folder + name);
  }
  return found;
}

void ArchiveTally::Count(int exit_code, bool no_directory_found) {
  if (no_directory_found) {
    ++no_directory;
  } else if (exit_code == 0) {
    ++succeeded;
  } else if (exit_code == 1) {
    ++warned;
  } else {
    ++failed;
  }
}

std::string SummaryText(const ArchiveTally& tally) {
  if (tally.succeeded + tally.warned + tally.failed + tally.no_directory == 0) {
    return "No zipfiles found.\n";
  }
  const auto archives = [](int n) { return std::to_string(n) + (n == 1 ? " archive" : " archives"); };
  std::string text;
  if (tally.succeeded > 0) {
    text += archives(tally.succeeded) + (tally.succeeded == 1 ? " was" : " were") +
            " successfully processed.\n";
  }
  if (tally.warned > 0) text += archives(tally.warned) + " had warnings but no fatal errors.\n";
  if (tally.failed > 0) text += archives(tally.failed) + " had fatal errors.\n";
  if (tally.no_directory > 0) {
    text += std::to_string(tally.no_directory) + (tally.no_directory == 1 ? " file" : " files") +
            " had no zipfile directory.\n";
  }
  return text;
}

const char kNoDirectoryText[] =
    "  End-of-central-directory signature not found.  Either this file is not\n"
    "  a zipfile, or it constitutes one disk of a multi-part archive.  In the\n"
    "  latter case the central directory and zipfile comment will be found on\n"
    "  the last disk(s) of this archive.\n";

std::string CannotFindDirectoryText(const std::string& program, const std::string& name) {
  // The second line lines up under the first's text, as unzip's does.
  return program + ":  cannot find zipfile directory in one of " + name + " or\n" +
         std::string(program.size() + 3, ' ') + name + ".zip, and cannot find " + name +
         ".ZIP, period.\n";
}

void PrintArchiveNotFound(const Options& options) {
  const bool zipinfo = options.mode == Mode::kZipInfo;
  if (options.mode == Mode::kPipe && !options.pipe_with_names) return;  // -p says nothing
  const std::string name = SafeName(options.archive);
  std::fflush(stdout);
  std::fprintf(zipinfo || options.mode == Mode::kTest ? stdout : stderr,
               "%s:  cannot find or open %s, %s.zip or %s.ZIP.\n", zipinfo ? "vzipinfo" : "vunzip",
               name.c_str(), name.c_str(), name.c_str());
}

std::optional<std::string> FindArchiveFile(const std::string& name) {
  std::error_code ec;
  for (const std::string& candidate : {name, name + ".zip", name + ".ZIP"}) {
    if (std::filesystem::is_regular_file(candidate, ec)) return candidate;
  }
  return std::nullopt;
}

void PrintNoDirectory(const Options& options, const std::string& name, bool separate,
                      bool several) {
  const bool zipinfo = options.mode == Mode::kZipInfo;
  bool archive_line, bracket_line;
  std::FILE* messages = stderr;
  if (zipinfo) {
    const bool verbose = options.zipinfo.format == ZipInfoFormat::kVerbose;
    archive_line = ZipInfoShowsHeader(options.zipinfo, options.HasMasks());
    bracket_line = true;
    if (archive_line && !verbose) messages = stdout;
  } else {
    archive_line = options.quiet == 0;
    bracket_line = !archive_line;
    if (options.mode == Mode::kTest) messages = stdout;
  }
  if (separate && (zipinfo || options.quiet == 0)) std::fputc('\n', stdout);
  if (archive_line) std::printf("Archive:  %s\n", name.c_str());
  std::fflush(stdout);
  if (bracket_line) std::fprintf(messages, "[%s]\n", name.c_str());
  std::fputs(kNoDirectoryText, messages);
  if (!several) {
    std::fputs(CannotFindDirectoryText(zipinfo ? "vzipinfo" : "vunzip", name).c_str(), messages);
  }
  std::fflush(messages);
}

namespace {

// Where unzip puts its summary: among test mode's lines and zipinfo's
// listings with a header line, else on stderr.
void PrintSummary(const Options& options, const ArchiveTally& tally) {
  std::fflush(stdout);
  const bool zipinfo_header = options.mode == Mode::kZipInfo &&
                              options.zipinfo.format != ZipInfoFormat::kVerbose &&
                              ZipInfoShowsHeader(options.zipinfo, options.HasMasks());
  std::FILE* out = options.mode == Mode::kTest || zipinfo_header ? stdout : stderr;
  if (options.quiet < 2) std::fputc('\n', out);
  std::fputs(SummaryText(tally).c_str(), out);
  std::fflush(out);
}

}  // namespace

// One archive, or each file that a wildcard archive name matches, with
// unzip's summary of how they went and the worst exit code.
int RunArchives(Options options, const ArchiveRunner& run) {
  std::error_code ec;
  bool no_directory = false;
  if (!HasWildcard(options.archive) || std::filesystem::exists(options.archive, ec)) {
    return run(std::move(options), false, false, no_directory);
  }
  const std::vector<std::string> archives = MatchArchives(options.archive);
  if (archives.size() == 1) {
    // Run as the only archive, but summed up as unzip sums up a wildcard's
    // archives when it did not go well (a file without a directory is not
    // counted: "No zipfiles found.").
    Options one = options;
    one.archive = archives[0];
    const int code = run(std::move(one), false, false, no_directory);
    if (code != 0 || no_directory) {
      ArchiveTally tally;
      if (!no_directory) tally.Count(code, false);
      PrintSummary(options, tally);
    }
    return code;
  }
  ArchiveTally tally;
  int code = 0;
  // unzip starts each archive that follows one whose directory it read
  // with a blank line, whether or not this one then prints anything.
  bool previous_found = false;
  for (size_t i = 0; i < archives.size(); ++i) {
    Options one = options;
    one.archive = archives[i];
    // unzip's exit code for an archive that went wrong in a way of its own.
    constexpr int kExitSevere = 3;
    int archive_code = kExitSevere;
    no_directory = false;
    try {
      archive_code = run(std::move(one), true, previous_found, no_directory);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "vunzip: %s\n", e.what());
    }
    tally.Count(archive_code, no_directory);
    previous_found = !no_directory;
    code = std::max(code, archive_code);
  }
  if (archives.empty()) {
    PrintArchiveNotFound(options);
    code = 9;  // unzip's "zipfile not found"
  }
  PrintSummary(options, tally);
  return code;
}

bool StampWithNewestItem(const std::vector<TAbZipItem*>& items, const std::string& path) {
  int64_t newest = 0;
  bool any = false;
  for (const TAbZipItem* item : items) {
    const int64_t seconds = ItemSeconds(*item);
    if (!any || seconds > newest) newest = seconds;
    any = true;
  }
  if (!any) return true;
  timespec times[2] = {};
  times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(newest);
  return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

int64_t MisplacedDirectoryBytes(TAbZipArchive& archive) {
  if (archive.ExtraBytes != 0 || archive.Spanned) return 0;
  ZipInfoArchive tail;
  LocateEndRecords(archive, tail);
  if (tail.disk_number != 0 || tail.end_record_offset == 0) return 0;
  TStream& stream = *archive.Stream();
  const int64_t position = stream.Position();
  int64_t moved = 0;
  try {
    const TAbDirectoryShift shift =
        FindArchiveShift(stream, static_cast<uint64_t>(archive.ItemCount()), tail.directory_size,
                         tail.directory_offset, static_cast<int64_t>(tail.end_record_offset));
    if (shift.Shift == 0) moved = shift.DirectoryStart - static_cast<int64_t>(tail.directory_offset);
  } catch (const std::exception&) {
    // The archive was read; a second look that fails says nothing new.
  }
  stream.Seek(position, soFromBeginning);
  return moved;
}

}  // namespace velmora::vunzip
