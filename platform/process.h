// Starting a program and waiting for it, through the Windows calls the
// installer's child runner is written against. CreateProcessA spawns the
// program (posix_spawn) with argv = [program] + the command line split by
// the Windows rules (command_line.h); without an application name the
// command line's first token names the program. The environment and the
// current folder are inherited unless given. Windows paths are mapped with
// HostPath.
//
// Process handles live in a table of their own, numbered above every file
// descriptor, so CloseHandle (win32.h) can tell them from file handles.
#pragma once

#include <cstdint>

#include "platform/win32.h"

namespace velmora {

using BYTE = uint8_t;

constexpr DWORD ERROR_BAD_EXE_FORMAT = 193;

// Creation flags; none of them changes anything on Linux (there is no
// console to make and no priority class to choose), they are accepted.
constexpr DWORD DEBUG_PROCESS = 0x00000001;
constexpr DWORD CREATE_NEW_CONSOLE = 0x00000010;
constexpr DWORD NORMAL_PRIORITY_CLASS = 0x00000020;

constexpr DWORD STARTF_USESHOWWINDOW = 0x00000001;
constexpr WORD SW_HIDE = 0;
constexpr WORD SW_SHOWNORMAL = 1;

struct STARTUPINFOA {
  DWORD cb = 0;
  char* lpReserved = nullptr;
  char* lpDesktop = nullptr;
  char* lpTitle = nullptr;
  DWORD dwX = 0;
  DWORD dwY = 0;
  DWORD dwXSize = 0;
  DWORD dwYSize = 0;
  DWORD dwXCountChars = 0;
  DWORD dwYCountChars = 0;
  DWORD dwFillAttribute = 0;
  DWORD dwFlags = 0;
  WORD wShowWindow = 0;
  WORD cbReserved2 = 0;
  BYTE* lpReserved2 = nullptr;
  HANDLE hStdInput = 0;
  HANDLE hStdOutput = 0;
  HANDLE hStdError = 0;
};

struct PROCESS_INFORMATION {
  HANDLE hProcess = 0;
  HANDLE hThread = 0;
  DWORD dwProcessId = 0;
  DWORD dwThreadId = 0;
};

// Starts the program. Fails (false, with the last error) when the program
// cannot be started: ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND when it is
// missing, ERROR_ACCESS_DENIED for a folder or a file without execute
// permission, ERROR_BAD_EXE_FORMAT for a file that is not a program. With
// inherit_handles false the child gets only the standard descriptors.
// environment, when given, is an ANSI block "A=1\0B=2\0\0". The thread
// handle stands for the child's main thread: it is signalled when the
// process ends, and must be closed like the process handle.
bool CreateProcessA(const char* application_name, const char* command_line,
                    void* process_attributes, void* thread_attributes, bool inherit_handles,
                    DWORD creation_flags, void* environment, const char* current_directory,
                    STARTUPINFOA* startup_info, PROCESS_INFORMATION* process_information);

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
constexpr DWORD STILL_ACTIVE = 259;

// Waits until the process has ended (WAIT_OBJECT_0) or the time-out in
// milliseconds has passed (WAIT_TIMEOUT); WAIT_FAILED for a handle that is
// not a process handle.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
// The exit code once the process has ended (a child killed by signal N
// exits with 128 + N, as a shell reports it), STILL_ACTIVE before.
bool GetExitCodeProcess(HANDLE process, DWORD* exit_code);

// Whether a handle is one of the process table's; CloseHandle sends those
// to CloseProcessHandle.
bool IsProcessHandle(HANDLE handle);
bool CloseProcessHandle(HANDLE handle);

}  // namespace velmora
