// velmora-server-setup: the Velmora server installer. The program carries
// its payload appended to itself; Install unpacks and installs it. Without
// arguments it is its window (or the terminal dialogue); the command line
// (setup_options.h) adds unattended installation and a log.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "app/installation.h"
#include "app/main_form.h"
#include "app/setup_lock.h"
#include "app/setup_log.h"
#include "app/setup_options.h"
#include "platform/folder_handles.h"
#include "platform/message_box.h"
#include "platform/toolkit/toolkit.h"

namespace {

// SIGINT, SIGTERM and SIGHUP stop the installer where it stands. What was
// being unpacked under a temporary name is removed; when an installation
// was under way, standard error and the log say that it is incomplete and
// that a new run completes it; then the signal takes its usual course, so
// the exit status tells which one it was. Only async-signal-safe calls.
extern "C" void StopOnSignal(int signal_number) {
  velmora::RemovePendingTempFiles();
  if (velmora::InstallationUnderWay()) {
    const char* const said =
        signal_number == SIGINT    ? "Stopped by SIGINT before the installation was complete"
        : signal_number == SIGTERM ? "Stopped by SIGTERM before the installation was complete"
                                   : "Stopped by SIGHUP before the installation was complete";
    static constexpr char kRemedy[] = "; run Velmora Setup again to complete it.\n";
    (void)!::write(STDERR_FILENO, said, std::strlen(said));
    (void)!::write(STDERR_FILENO, kRemedy, sizeof kRemedy - 1);
    velmora::LogStepFromSignalHandler(said);
  }
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

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

  struct sigaction stop {};
  stop.sa_handler = StopOnSignal;
  sigemptyset(&stop.sa_mask);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal_number, &stop, nullptr);

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
