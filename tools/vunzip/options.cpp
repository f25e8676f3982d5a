#include "tools/vunzip/options.h"

namespace velmora::vunzip {

namespace {

// Sets the mode once; unzip refuses two of -l, -v, -t, -p together too.
bool SetMode(Options& options, Mode mode, std::string& error) {
  if (options.mode != Mode::kExtract && options.mode != mode) {
    error = "only one of -l, -v, -t and -p may be given";
    return false;
  }
  options.mode = mode;
  return true;
}

// One cluster of single-letter options ("-qo", "-d" DIR, "-P" PW, "-dDIR").
// Returns false with error set on a bad option.
bool ParseCluster(const std::vector<std::string>& args, size_t& i, Options& options,
                  bool& in_exclude, std::string& error) {
  const std::string& arg = args[i];
  for (size_t k = 1; k < arg.size(); ++k) {
    const char letter = arg[k];
    switch (letter) {
      case 'l': if (!SetMode(options, Mode::kList, error)) return false; break;
      case 'v': if (!SetMode(options, Mode::kVerboseList, error)) return false; break;
      case 't': if (!SetMode(options, Mode::kTest, error)) return false; break;
      case 'p': if (!SetMode(options, Mode::kPipe, error)) return false; break;
      case 'j': options.junk_paths = true; break;
      case 'o': options.overwrite = Overwrite::kAlways; break;
      case 'n': options.overwrite = Overwrite::kNever; break;
      case 'q': ++options.quiet; break;
      case 'x': in_exclude = true; break;
      case 'h': options.mode = Mode::kHelp; break;
      case 'd':
      case 'P': {
        std::string value;
        if (k + 1 < arg.size()) {
          value = arg.substr(k + 1);
        } else if (i + 1 < args.size()) {
          value = args[++i];
        } else {
          error = std::string("option -") + letter + " needs a value";
          return false;
        }
        if (letter == 'd') {
          if (value.empty()) {
            error = "option -d needs a folder";
            return false;
          }
          options.target_dir = value;
        } else {
          options.password = value;
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

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
  ParseResult result;
  Options& options = result.options;
  bool in_exclude = false;
  bool options_done = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!options_done && (arg == "--help" || arg == "-h")) {
      options.mode = Mode::kHelp;
      return result;
    }
    if (!options_done && arg == "--version") {
      options.mode = Mode::kVersion;
      return result;
    }
    if (!options_done && arg == "--") {
      options_done = true;
      continue;
    }
    if (!options_done && arg.size() > 1 && arg[0] == '-') {
      if (arg[1] == '-') {
        result.error = "unknown option " + arg;
        return result;
      }
      if (!ParseCluster(args, i, options, in_exclude, result.error)) return result;
      continue;
    }
    if (options.archive.empty()) {
      options.archive = arg;
    } else if (in_exclude) {
      options.exclude.push_back(arg);
    } else {
      options.include.push_back(arg);
    }
  }
  if (options.archive.empty()) result.error = "no archive named";
  return result;
}

std::string HelpText() {
  return R"(Usage: vunzip [-l|-v|-t|-p] [-d DIR] [-j] [-o|-n] [-P PASSWORD] [-q]
              ARCHIVE [NAME-MASK ...] [-x EXCLUDE-MASK ...]

Extracts, lists or tests the items of a ZIP archive (also one appended to a
program). With no NAME-MASK every item is selected. Masks use * and ?,
compared without regard to case; a mask without a folder part matches the
name in any folder.

Modes (default: extract):
  -l             list the items: size, date, time, name
  -v             list verbosely: method, sizes, ratio, CRC-32 as well
  -t             test the items: decompress and check their CRC-32
  -p             write the items' data to standard output, nothing else

Options:
  -d DIR         extract into DIR (made when missing) instead of the current folder
  -j             junk paths: write every item flat into the target folder
  -o             overwrite existing files without asking
  -n             never overwrite existing files
  -P PASSWORD    password of encrypted items (asked on the terminal when needed
                 and not given)
  -q             quieter: no per-item lines (-qq: only errors)
  -x MASK ...    leave out the items matching these masks
  -h, --help     show this text
  --version      show the engine's version

Stored folders are restored below the target folder; a name that would land
outside it (an absolute name, a drive, a ".." part) is refused.

Exit status (as unzip):
  0 success             1 warnings (items skipped)      2 error in the archive
  3 severe error        9 archive not found             10 bad options
  11 no matching names  80 aborted                      81 unsupported method
  82 wrong password
)";
}

}  // namespace velmora::vunzip
