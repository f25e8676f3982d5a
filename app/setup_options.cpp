#include "app/setup_options.h"

#ifndef VELMORA_VERSION
#error "VELMORA_VERSION is the product version (app/CMakeLists.txt)"
#endif

namespace velmora {

TSetupOptions ParseSetupOptions(const std::vector<std::string>& arguments) {
  TSetupOptions options;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--unattended") {
      options.unattended = true;
    } else if (argument == "--help" || argument == "-h") {
      options.help = true;
    } else if (argument == "--version") {
      options.version = true;
    } else if (argument == "--log" || argument.starts_with("--log=")) {
      std::string file = argument == "--log" ? "" : argument.substr(6);
      if (argument == "--log" && i + 1 < arguments.size()) file = arguments[++i];
      if (file.empty()) {
        options.error = "--log needs the name of a file";
        return options;
      }
      options.log_file = file;
    } else {
      options.error = "unknown option \"" + argument + "\"";
      return options;
    }
  }
  return options;
}

std::string SetupUsage(const std::string& program) {
  return "Usage: " + program + " [--unattended] [--log FILE]\n"
         "Installs the Velmora server software into $VELMORA_PREFIX (default ~/.velmora).\n"
         "Without options it shows its window, or a dialogue in the terminal when no\n"
         "display can be opened.\n"
         "\n"
         "  --unattended  install at once, with nobody to answer: every message is\n"
         "                printed on standard output and answered OK, errors go to\n"
         "                standard error\n"
         "  --log FILE    write each step with its time to FILE (created or emptied)\n"
         "  --help        show this text\n"
         "  --version     show the version\n"
         "\n"
         "Exit status: 0 installed (or nothing asked of it), 1 the installation failed\n"
         "and the error says why, 2 a bad command line or a log that cannot be\n"
         "written, 3 another installer is running for the same prefix. Stopped by\n"
         "SIGINT, SIGTERM or SIGHUP, it says so (and in the log) when an installation\n"
         "was under way, which a new run completes, and ends by that signal.\n";
}

std::string SetupVersion() { return std::string("velmora-server-setup ") + VELMORA_VERSION + "\n"; }

}  // namespace velmora
