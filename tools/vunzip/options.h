// The command line of vunzip, read as unzip reads its own so that scripts
// written for unzip run unchanged: clustered flags ("-qo"), a "-" inside a
// cluster turning the next letters off ("-q-o"), options after the archive
// name, default options from the UNZIP variable (VZIPINFO/ZIPINFO in
// zipinfo mode), "--" ending the options, and every option of unzip 6.0's
// usage screen accepted; one that cannot apply here says why.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velmora::vunzip {

enum class Mode {
  kExtract, kList, kVerboseList, kTest, kPipe, kComment, kStamp, kZipInfo, kHelp, kVersion,
  kZipInfoHelp
};

enum class Overwrite { kAsk, kAlways, kNever };

// -f writes only files that exist and are older; -u also new ones.
enum class Freshen { kAll, kExistingOnly, kNewerOrMissing };

// zipinfo's listing formats: -1 -2 -s -m -l -v.
enum class ZipInfoFormat { kNamesOnly, kNames, kShort, kMedium, kLong, kVerbose };

struct ZipInfoOptions {
  ZipInfoFormat format = ZipInfoFormat::kShort;
  bool explicit_format = false;  // one of -1 -2 -s -m -l -v was given
  // Header and totals lines: shown by default only in the ls-like formats;
  // -h and -t ask for them in -1/-2 too.
  std::optional<bool> header;
  std::optional<bool> totals;
  bool decimal_times = false;  // -T: yyyymmdd.hhmmss
  bool comment = false;        // -z
};

struct Options {
  Mode mode = Mode::kExtract;
  std::string target_dir;  // host path; empty means the current folder
  bool junk_paths = false;
  Overwrite overwrite = Overwrite::kAsk;
  Freshen freshen = Freshen::kAll;
  bool case_blind = false;     // -C: masks ignore case
  // -L: names of items from single-case systems read in lower case; -LL:
  // every name (name_case.h).
  int lowercase = 0;
  bool pipe_with_names = false;  // -c: -p with an "extracting:" line per item
  bool comment_only = false;   // -z
  bool stamp_archive = false;  // -T: the archive takes its newest item's time
  bool pager = false;          // -M: through $PAGER (more) on a terminal
  bool restore_owners = false;  // -X: owner and group from the Unix extra fields
  // -D: folders keep the time of their making, not the stored one; -DD:
  // files too.
  int skip_times = 0;
  bool wild_stop_at_folder = false;  // -W: "*" and "?" match no "/"; "**" does
  // -B: a file an item replaces is kept as NAME~ (with -o, replacing an
  // older NAME~), else NAME~1, NAME~2 ... when NAME~ is there too.
  bool backup = false;
  // -a: items marked as text are written with this system's line ends (no
  // CR, no ^Z); -aa: every item. -b takes it back.
  int text_mode = 0;
  int quiet = 0;  // -q once: no per-item lines; -qq: nothing but errors
  std::optional<std::string> password;
  ZipInfoOptions zipinfo;
  // Accepted options that do nothing here, each with the reason, printed
  // once as a note before the work starts.
  std::vector<std::string> notes;
  std::string archive;
  std::vector<std::string> include;
  std::vector<std::string> exclude;
  // Names were given to pick items (or -x to leave some out): listings then
  // say what they picked, as unzip's do.
  bool HasMasks() const { return !include.empty() || !exclude.empty(); }
};

struct ParseResult {
  Options options;
  std::string error;  // empty when the line was good
};

// Reads default options first (the text of UNZIP or ZIPINFO, split at
// blanks), then the command line. zipinfo_mode is true when the program
// was started as vzipinfo.
ParseResult ParseCommandLine(const std::vector<std::string>& args, bool zipinfo_mode = false,
                             const std::string& defaults = std::string());

// Splits an environment variable's text into arguments at blanks.
std::vector<std::string> SplitDefaults(const std::string& text);

// The text of --help, and of -Z alone.
std::string HelpText();
std::string ZipInfoHelpText();

}  // namespace velmora::vunzip
