// ExecAndWait: starts a program, blocks until it has ended and returns its
// exit code. The installer runs the virtual printer installer with it.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

// application_name: the program's full path, or empty to let the command
// line's first token name it. command_line: handed over exactly as given
// (it is not prefixed with the program). The wait has no time limit; the
// windows are repainted during it, and input meanwhile is dropped. Raises Exception("Unable to execute application
// "<application_name>"") when the program cannot be started; any exit code
// is returned as it is.
uint32_t ExecAndWait(const std::string& application_name, const std::string& command_line);

}  // namespace velmora
