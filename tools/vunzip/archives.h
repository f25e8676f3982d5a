// Several archives in one run, as unzip takes them: an archive name with
// wildcards ("vunzip -l '*.zip'", quoted so that the shell leaves it) names
// every matching file in its folder, each is processed in turn, and a
// summary counts how they went. Also unzip's words for a file in which no
// ZIP directory is found.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/vunzip/options.h"

namespace velmora {
class TAbZipArchive;
class TAbZipItem;
}  // namespace velmora

namespace velmora::vunzip {

// True when the name holds a wildcard character (* ? or [).
bool HasWildcard(const std::string& name);

// The files whose names match the last part of pattern (unzip's wildcards,
// with case), in the folder the rest of it names, in the order the folder
// lists them, as unzip takes them. Folders are left out.
std::vector<std::string> MatchArchives(const std::string& pattern);

// How the archives of a run went, by each one's exit code.
struct ArchiveTally {
  int succeeded = 0;     // exit code 0
  int warned = 0;        // 1: warnings, nothing lost
  int failed = 0;        // any other error
  int no_directory = 0;  // no ZIP directory found in the file
  void Count(int exit_code, bool no_directory_found);
};

// unzip's summary: "N archives were successfully processed." and a line
// for each kind of trouble, or "No zipfiles found." when nothing matched.
std::string SummaryText(const ArchiveTally& tally);

// Whether the end record's signature is anywhere it could be: a file
// without one holds no ZIP directory at all.
bool HasEndRecordSignature(const std::string& path);

// unzip's explanation for a file without an end-of-central-directory
// record, indented, four lines.
extern const char kNoDirectoryText[];

// The closing line for one archive named on the command line: where the
// directory was looked for, by the program's name.
std::string CannotFindDirectoryText(const std::string& program, const std::string& name);

// The file an archive name stands for, as unzip looks: NAME, NAME.zip,
// NAME.ZIP; and unzip's words when there is none, where it prints them
// (standard output in test mode and zipinfo, nothing under -p).
std::optional<std::string> FindArchiveFile(const std::string& name);
void PrintArchiveNotFound(const Options& options);

// A file without an end record (name as shown), in unzip's words and on
// its streams: test mode says it all among its lines, and so do zipinfo's
// listings with a header line; otherwise the "Archive:" line (or, without
// one, the name in brackets) goes first and the explanation to stderr.
// separate: a blank line goes before the "Archive:" line; several: one of
// several archives, which leaves out the closing line.
void PrintNoDirectory(const Options& options, const std::string& name, bool separate,
                      bool several);

// Runs one archive: several (one of several archives), separate (a blank
// line before it); sets no_directory when the file held no ZIP directory;
// returns its exit code.
using ArchiveRunner =
    std::function<int(Options options, bool several, bool separate, bool& no_directory)>;

// The archive named on the command line, or, when its name has wildcards
// and no file has that very name, every file it matches (then a summary of
// how they went, and the worst exit code).
int RunArchives(Options options, const ArchiveRunner& run);

// -T: the archive's file takes the time of its newest item, as unzip sets
// it. False when the time cannot be set.
bool StampWithNewestItem(const std::vector<TAbZipItem*>& items, const std::string& path);

// The bytes between where the end record says the directory starts and
// where the engine found it (0 when it is where said, or when the whole
// archive is shifted, which ExtraBytes tells): unzip's "extra bytes at
// beginning or within zipfile" for a directory that moved.
int64_t MisplacedDirectoryBytes(TAbZipArchive& archive);

}  // namespace velmora::vunzip
