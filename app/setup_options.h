// The installer's command line, for administrators who deploy to many
// servers. Without arguments the installer is the window (or the terminal
// dialogue) and nothing else changes.
//   --unattended   install at once: every message box answers itself and is
//                  printed (errors on standard error); exit 0 on success
//   --log FILE     write each step with its time to FILE, in any mode
//   --help, --version
#pragma once

#include <string>
#include <vector>

namespace velmora {

struct TSetupOptions {
  bool unattended = false;
  bool help = false;
  bool version = false;
  std::string log_file;  // host path; empty: no log
  // What was wrong with the command line, in words; empty when it was fine.
  std::string error;
};

TSetupOptions ParseSetupOptions(const std::vector<std::string>& arguments);

// The text of --help, naming the program as it was started.
std::string SetupUsage(const std::string& program);
// The text of --version.
std::string SetupVersion();

// Exit statuses.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailed = 1;        // the installation stopped with an error
inline constexpr int kExitUsage = 2;         // a bad command line, or a log that cannot be written
inline constexpr int kExitAlreadyRunning = 3;  // another installer holds the prefix

}  // namespace velmora
