// vunzip: lists, tests and extracts ZIP archives with the engine the
// installer unpacks itself with. Options and exit codes follow unzip.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "archive/unzipper/unzipper.h"
#include "platform/folder_handles.h"
#include "tools/vunzip/archive_run.h"
#include "tools/vunzip/archives.h"
#include "tools/vunzip/options.h"
#include "tools/vunzip/terminal.h"

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
  const Mode mode = parsed.options.mode;
  if (!parsed.options.target_dir.empty() && mode != Mode::kExtract && mode != Mode::kTest) {
    std::fprintf(stderr, "caution:  not extracting; -d ignored\n");
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
