// The installation log of `--log FILE`: one line per step, with its time
// (folders, registry values, items unpacked, programs opened and run and
// their exit codes, messages shown). Nothing is written unless a log is
// open, so the procedure logs unconditionally.
#pragma once

#include <string>

namespace velmora {

// Opens (truncates) the log at a host path. Returns false, with errno
// set, when the file cannot be written.
bool OpenSetupLog(const std::string& host_path);
void CloseSetupLog();
bool SetupLogOpen();

// "2026-12-09 04:10:00.123 <what>", written through at once, so the log
// holds every step up to a crash.
void LogStep(const std::string& what);
// The same from a signal handler: no allocation, no locale or time zone
// lookup (the offset from UTC is the one the log was opened with).
void LogStepFromSignalHandler(const char* what);

}  // namespace velmora
