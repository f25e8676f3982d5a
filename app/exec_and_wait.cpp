#include "app/exec_and_wait.h"

#include <sys/syscall.h>
#include <unistd.h>

#include "platform/process.h"
#include "platform/toolkit/toolkit.h"
#include "rtl/exceptions.h"
#include "rtl/format.h"

namespace velmora {

namespace {

// The wait may be long (an installer of its own). Windows would leave our
// window unpainted and queue every click for afterwards; here the window is
// repainted while the child runs and what is clicked meanwhile is dropped.
// The child is ours and not yet reaped, so its process id names it alone.
void WaitKeepingWindowsPainted(const PROCESS_INFORMATION& info) {
  // glibc 2.36 declares pidfd_open without C linkage, so the system call.
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, info.dwProcessId, 0));
  if (pidfd < 0) return;  // an older kernel: the plain wait that follows
  Application().WaitWithoutInput(pidfd);
  ::close(pidfd);
}

}  // namespace

uint32_t ExecAndWait(const std::string& application_name, const std::string& command_line) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(application_name.empty() ? nullptr : application_name.c_str(),
                      command_line.c_str(), nullptr, nullptr, false,
                      CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup,
                      &info)) {
    // Only the result tells failure; the last error is not part of the text.
    throw Exception(Format("Unable to execute application \"%s\"", {application_name}));
  }
  WaitKeepingWindowsPainted(info);
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD exit_code = 0;
  GetExitCodeProcess(info.hProcess, &exit_code);
  // Windows would keep both handles until the program ends; closing them
  // leaves nothing behind.
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return exit_code;
}

}  // namespace velmora
