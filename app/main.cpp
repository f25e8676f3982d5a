// velmora-server-setup: the Velmora server installer. The program carries
// its payload appended to itself; Install unpacks and installs it. Without
// arguments it is its window (or the terminal dialogue); the command line
// (setup_options.h) adds unattended installation and a log.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "app/setup_lock.h"
#include "app/setup_log.h"
#include "app/setup_options.h"
#include "platform/message_box.h"
#include "platform/toolkit/toolkit.h"

namespace {

std::string ProgramName(int argc, char** argv) {
  std::string name = argc > 0 && argv[0] ? argv[0] : "velmora-server-setup";
  return name.substr(name.find_last_of('/') + 1);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace velmora;
  const std::string program = ProgramName(argc, argv);
  const TSetupOptions options =
      ParseSetupOptions(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
  if (!options.error.empty()) {
    std::cerr << program << ": " << options.error << "\n\n" << SetupUsage(program);
    return kExitUsage;
  }
  if (options.help) {
    std::cout << SetupUsage(program);
    return kExitSuccess;
  }
  if (options.version) {
    std::cout << SetupVersion();
    return kExitSuccess;
  }
  if (!options.log_file.empty() && !OpenSetupLog(options.log_file)) {
    std::cerr << program << ": cannot write the log \"" << options.log_file
              << "\": " << std::strerror(errno) << "\n";
    return kExitUsage;
  }

  TApplication& application = Application();
  if (options.unattended) application.SetWidgetSet(MakeUnattendedWidgetSet(std::cout, std::cerr));
  application.Initialize();
  application.SetTitle(kApplicationTitle);
  LogStep(SetupVersion().substr(0, SetupVersion().size() - 1) + " started, front end " +
          application.WidgetSet().Name());

  TSetupLock lock;
  if (!lock.Acquire()) {
    // Beside the product's message, on standard error and in the log: which
    // installer it is, so that it can be waited for or looked into.
    const std::string holder = TSetupLock::HolderText();
    std::fprintf(stderr, "%s; this one stops without changing anything\n", holder.c_str());
    LogStep(std::string("Stopped: ") + kAlreadyRunningText + " (" + holder + ")");
    application.MessageBox(kAlreadyRunningText, kApplicationTitle, MB_OK | MB_ICONERROR);
    return kExitAlreadyRunning;
  }
  TFormMain form;
  if (options.unattended) return InstallUnattended(form) ? kExitSuccess : kExitFailed;
  application.Run(form);
  return kExitSuccess;
}
