// ShellExecuteA: opening a folder or a document with the program the desktop
// associates with it. The opener is xdg-open, or the program named by
// $VELMORA_SHELL_OPEN, started detached (its own session, its output to
// /dev/null, no shell in between) with the file's host path as its one
// argument; the call returns at once and never waits for the opener.
#pragma once

#include <cstdint>

#include "platform/process.h"  // SW_SHOWNORMAL
#include "platform/win32.h"

namespace velmora {

// The "instance" result: above 32 when the opener was started.
using HINSTANCE = intptr_t;

// Results of 32 and below, as Windows numbers them.
constexpr HINSTANCE SE_ERR_FNF = 2;
constexpr HINSTANCE SE_ERR_PNF = 3;
constexpr HINSTANCE SE_ERR_ACCESSDENIED = 5;
constexpr HINSTANCE SE_ERR_NOASSOC = 31;

// Opens file (a Windows path) with the verb null, "open" or "explore";
// parameters and directory are not used for documents and folders. Returns
// a value above 32 when the opener was started; 2 when the file does not
// exist; 31 when there is no desktop session ($DISPLAY or $WAYLAND_DISPLAY)
// or no opener to start, after one line on standard error naming the path
// that could not be opened; 31 too for another verb.
HINSTANCE ShellExecuteA(void* owner, const char* verb, const char* file, const char* parameters,
                        const char* directory, int show_command);

}  // namespace velmora
