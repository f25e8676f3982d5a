#include "app/exec_and_wait.h"

#include "platform/process.h"
#include "rtl/exceptions.h"
#include "rtl/format.h"

namespace velmora {

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
