#include "tools/vunzip/options.h"

#include <algorithm>

namespace velmora::vunzip {

namespace {

// What each accepted-but-inert option says, so that a script that passes
// it runs on and its user learns why nothing changed.
constexpr const char* kNoteUnsafeNames =
    "-: and -^ are not honoured: names with \"..\" parts, absolute names and control "
    "characters are always refused or shown safely here";
constexpr const char* kNoteSetuid =
    "-K: set-user-id, set-group-id and sticky bits are never restored";
constexpr const char* kNoteCharset =
    "-I/-O: names are read as the archive marks them (UTF-8 flag, else the DOS code page)";
constexpr const char* kNoteUnicode =
    "-U: names are always shown as UTF-8, with control characters as ^X";
constexpr const char* kNoteVms = "-V: VMS version numbers do not apply on this system";

void AddNote(Options& options, const char* note) {
  if (std::find(options.notes.begin(), options.notes.end(), note) == options.notes.end()) {
    options.notes.push_back(note);
  }
}

// The value of -d, -P, -I or -O: the rest of the cluster or the next
// argument.
bool TakeValue(const std::vector<std::string>& args, size_t& i, size_t k, char letter,
               std::string& value, std::string& error) {
  const std::string& arg = args[i];
  if (k + 1 < arg.size()) {
    value = arg.substr(k + 1);
  } else if (i + 1 < args.size()) {
    value = args[++i];
  } else {
    error = std::string("option -") + letter + " needs a value";
    return false;
  }
  return true;
}

struct ClusterState {
  bool in_exclude = false;
  bool zipinfo = false;
  // unzip's action letters set flags that may be given together; the mode
  // is chosen from them once the whole line is read (ChooseMode). -l adds
  // one to the listing level and -v two (one after -l): two or more list
  // verbosely, so -lv and -ll list as -v does.
  int list = 0;
  bool test = false;
  bool pipe = false;    // -p
  bool screen = false;  // -c
};

// One cluster of unzip's single-letter options. Returns false with error
// set on a bad option.
bool ParseUnzipCluster(const std::vector<std::string>& args, size_t& i, Options& options,
                       ClusterState& state, std::string& error) {
  const std::string& arg = args[i];
  bool negative = false;
  for (size_t k = 1; k < arg.size(); ++k) {
    const char letter = arg[k];
    switch (letter) {
      case '-': negative = true; break;
      case 'l': state.list = negative ? std::max(0, state.list - 1) : state.list + 1; break;
      case 'v':
        state.list = negative ? std::max(0, state.list - 1) : (state.list > 0 ? state.list + 1 : 2);
        break;
      case 't': state.test = !negative; break;
      case 'p': state.pipe = !negative; break;
      case 'c': state.screen = !negative; break;
      case 'z': options.comment_only = !negative; break;
      // -f is -u that creates nothing, in either order.
      case 'f': options.freshen = negative ? Freshen::kAll : Freshen::kExistingOnly; break;
      case 'u':
        if (negative) {
          options.freshen = Freshen::kAll;
        } else if (options.freshen != Freshen::kExistingOnly) {
          options.freshen = Freshen::kNewerOrMissing;
        }
        break;
      case 'j': options.junk_paths = !negative; break;
      case 'o':
        options.overwrite = negative ? Overwrite::kAsk : Overwrite::kAlways;
        break;
      case 'n':
        options.overwrite = negative ? Overwrite::kAsk : Overwrite::kNever;
        break;
      case 'q': options.quiet = negative ? std::max(0, options.quiet - 1) : options.quiet + 1; break;
      case 'C': options.case_blind = !negative; break;
      case 'T': options.stamp_archive = !negative; break;
      case 'x': state.in_exclude = !negative; break;
      case 'h': options.mode = Mode::kHelp; break;
      case 'b': if (!negative) options.text_mode = 0; break;  // binary: "---a"
      case 'M': options.pager = !negative; break;
      case 'a':
        options.text_mode = negative ? std::max(0, options.text_mode - 1)
                                     : std::min(2, options.text_mode + 1);
        break;
      case 'X': options.restore_owners = !negative; break;
      case 'K': if (!negative) AddNote(options, kNoteSetuid); break;
      case 'D':
        options.skip_times = negative ? std::max(0, options.skip_times - 1)
                                      : std::min(2, options.skip_times + 1);
        break;
      case 'W': options.wild_stop_at_folder = !negative; break;
      case 'B': options.backup = !negative; break;
      case ':': case '^': if (!negative) AddNote(options, kNoteUnsafeNames); break;
      case 'U': if (!negative) AddNote(options, kNoteUnicode); break;
      case 'V': if (!negative) AddNote(options, kNoteVms); break;
      case 'L':
        options.lowercase = negative ? std::max(0, options.lowercase - 1)
                                     : std::min(2, options.lowercase + 1);
        break;
      case 'Z':
        error = "-Z must be first option for ZipInfo mode (check UNZIP variable?)";
        return false;
      case 'd': case 'P': case 'I': case 'O': {
        std::string value;
        if (!TakeValue(args, i, k, letter, value, error)) return false;
        if (letter == 'd') {
          if (value.empty()) {
            error = "option -d needs a folder";
            return false;
          }
          options.target_dir = value;
        } else if (letter == 'P') {
          options.password = value;
        } else {
          AddNote(options, kNoteCharset);
        }
        return true;
      }
      default:
        error = std::string("unknown option -") + letter;
        return false;
    }
  }
  return true;
}

// The mode of an unzip command line, from its action letters as unzip
// ranks them: -z shows only the comment, -T only stamps the archive,
// -p/-c write to standard output, -t tests, -l/-v list, else the items are
// extracted. The pairs unzip
// refuses are refused with its words.
bool ChooseMode(const ClusterState& state, Options& options, std::string& error) {
  const bool to_stdout = state.pipe || state.screen;
  const bool updating = options.freshen != Freshen::kAll;
  if ((to_stdout && (state.test || updating)) || (state.test && updating) ||
      (options.freshen == Freshen::kExistingOnly && options.overwrite == Overwrite::kNever)) {
    error = "-fn or any combination of -c, -l, -p, -t, -u and -v options invalid";
    return false;
  }
  if (options.comment_only) {
    options.mode = Mode::kComment;
    // -p keeps its silence: only the comment itself is written.
    if (state.pipe) options.quiet = std::max(options.quiet, 1);
  } else if (options.stamp_archive) {
    options.mode = Mode::kStamp;
    if (state.pipe) options.quiet = std::max(options.quiet, 1);
  } else if (to_stdout) {
    options.mode = Mode::kPipe;
    options.pipe_with_names = !state.pipe;
  } else if (state.test) {
    options.mode = Mode::kTest;
  } else if (state.list > 0) {
    options.mode = state.list > 1 ? Mode::kVerboseList : Mode::kList;
  }
  return true;
}

void SetFormat(ZipInfoOptions& zi, ZipInfoFormat format) {
  zi.format = format;
  zi.explicit_format = true;
}

// One cluster of zipinfo's options.
bool ParseZipInfoCluster(const std::string& arg, Options& options, ClusterState& state,
                         std::string& error) {
  ZipInfoOptions& zi = options.zipinfo;
  bool negative = false;
  for (size_t k = 1; k < arg.size(); ++k) {
    switch (arg[k]) {
      case '-': negative = true; break;
      case '1': SetFormat(zi, ZipInfoFormat::kNamesOnly); break;
      case '2': SetFormat(zi, ZipInfoFormat::kNames); break;
      case 's': SetFormat(zi, ZipInfoFormat::kShort); break;
      case 'm': SetFormat(zi, ZipInfoFormat::kMedium); break;
      case 'l': SetFormat(zi, ZipInfoFormat::kLong); break;
      case 'v': SetFormat(zi, ZipInfoFormat::kVerbose); break;
      case 'h': zi.header = !negative; break;
      case 't': zi.totals = !negative; break;
      case 'T': zi.decimal_times = !negative; break;
      case 'z': zi.comment = !negative; break;
      case 'C': options.case_blind = !negative; break;
      case 'x': state.in_exclude = !negative; break;
      case 'W': options.wild_stop_at_folder = !negative; break;
      case 'M': case 'U': break;
      case 'Z': break;  // "-Z" itself
      default:
        error = std::string("unknown option -") + arg[k];
        return false;
    }
  }
  return true;
}

}  // namespace

std::vector<std::string> SplitDefaults(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\n') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

ParseResult ParseCommandLine(const std::vector<std::string>& given, bool zipinfo_mode,
                             const std::string& defaults) {
  ParseResult result;
  Options& options = result.options;
  ClusterState state;
  state.zipinfo = zipinfo_mode;
  std::vector<std::string> args = given;
  // "-Z" opens zipinfo mode only as the first option; its cluster may go
  // on with zipinfo's letters ("-Z1", "-Zl").
  if (!state.zipinfo && !args.empty() && args[0].rfind("-Z", 0) == 0) {
    state.zipinfo = true;
    args[0] = args[0].size() > 2 ? "-" + args[0].substr(2) : std::string();
    if (args[0].empty()) args.erase(args.begin());
  }
  if (state.zipinfo) options.mode = Mode::kZipInfo;
  std::vector<std::string> words = SplitDefaults(defaults);
  const size_t defaults_end = words.size();
  words.insert(words.end(), args.begin(), args.end());
  bool options_done = false;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& arg = words[i];
    const bool is_default = i < defaults_end;
    if (!options_done && arg == "--help") {
      options.mode = state.zipinfo ? Mode::kZipInfoHelp : Mode::kHelp;
      return result;
    }
    if (!options_done && arg == "--version") {
      options.mode = Mode::kVersion;
      return result;
    }
    if (!options_done && !is_default && arg == "--") {
      options_done = true;
      continue;
    }
    if (!options_done && arg.size() > 1 && arg[0] == '-') {
      const bool ok = state.zipinfo
                          ? ParseZipInfoCluster(arg, options, state, result.error)
                          : ParseUnzipCluster(words, i, options, state, result.error);
      if (!ok) return result;
      if (options.mode == Mode::kHelp) return result;
      continue;
    }
    if (is_default) continue;  // only options count in the defaults
    if (options.archive.empty()) {
      options.archive = arg;
    } else if (state.in_exclude) {
      options.exclude.push_back(arg);
    } else {
      options.include.push_back(arg);
    }
  }
  if (!state.zipinfo && !ChooseMode(state, options, result.error)) return result;
  if (options.archive.empty()) {
    // "unzip -v" alone shows the version, "unzip -Z" alone zipinfo's usage.
    if (options.mode == Mode::kVerboseList) {
      options.mode = Mode::kVersion;
    } else if (options.mode == Mode::kZipInfo) {
      options.mode = Mode::kZipInfoHelp;
    } else {
      result.error = "no archive named";
    }
  }
  return result;
}

std::string HelpText() {
  return R"(Usage: vunzip [-Z] [-opts[modifiers]] ARCHIVE[.zip] [NAME-MASK ...] [-x EXCLUDE-MASK ...] [-d DIR]

Extracts, lists or tests the items of a ZIP archive (also one appended to a
program), taking unzip's options. With no NAME-MASK every item is selected.
Masks use *, ? and [...] classes ([!...] or [^...] negated), compared with
case unless -C; a mask matches the whole stored name. -Z => zipinfo mode
("vunzip -Z" for its usage).

  -p  extract files to pipe, no messages     -l  list files (short format)
  -f  freshen existing files, create none    -t  test compressed archive data
  -u  update files, create if necessary      -z  display archive comment only
  -v  list verbosely/show version info       -T  timestamp archive to latest
  -x  exclude files that follow (in xlist)   -d  extract files into exdir
  -c  extract files to the screen, with their names
modifiers:
  -n  never overwrite existing files         -q  quiet mode (-qq => quieter)
  -o  overwrite files WITHOUT prompting      -P  password of encrypted items
  -j  junk paths (do not make directories)   -C  match filenames case-insensitively
  -a  auto-convert any text files            -aa treat ALL files as text
  -X  restore owner and group (as root)      -B  keep a file replaced as NAME~
  -D  no stored times on folders (-DD: none) -W  * and ? stop at "/" (** not)
  -M  pipe through "more" (or $PAGER)        -L  make (some) names lowercase (-LL: all)
  -h, --help  show this text                 --version  show the engine's version
accepted, with a note saying why they change nothing here:
  -I -O -K -U -UU -V -: -^

Options may be clustered (-qo), turned off with a minus (-q-o), given
after the archive name, and preset in the UNZIP variable; "--" ends them.
A name that would land outside the target folder (an absolute name, a
drive, a ".." part) is refused.

Exit status (as unzip):
  0 success             1 warnings (items skipped)      2 error in the archive
  3 severe error        9 archive not found             10 bad options
  11 no matching names  80 aborted                      81 unsupported method
  82 wrong password
)";
}

std::string ZipInfoHelpText() {
  return R"(Usage: vzipinfo [-12smlvChMtTz] ARCHIVE[.zip] [NAME-MASK ...] [-x EXCLUDE-MASK ...]
   or: vunzip -Z [-12smlvChMtTz] ARCHIVE[.zip] [NAME-MASK ...] [-x EXCLUDE-MASK ...]

Lists name, date/time, attributes, size and method of the items of a ZIP
archive, as zipinfo does.

main listing-format options:             -s  short Unix "ls -l" format (def.)
  -1  filenames ONLY, one per line       -m  medium Unix "ls -l" format
  -2  just filenames but allow -h/-t/-z  -l  long Unix "ls -l" format
                                         -v  verbose, multi-page format
miscellaneous options:
  -h  print header line       -t  print totals for listed files or for all
  -z  print zipfile comment   -T  print file times in sortable decimal format
  -C  be case-insensitive     -M  accepted; output is not paged
  -x  exclude filenames that follow from listing
)";
}

}  // namespace velmora::vunzip
