// The archive's lock: a re-entrant critical section, and the test that
// decides whether it is taken at all (TAbPadLock locks only when the
// process runs more than one thread).
#include <dirent.h>

#include <cstring>

#include "platform/win32.h"

// glibc's own flag (2.32 and later; the header came only with 2.35): true
// until the process first starts a thread, and it never goes back.
extern "C" char __libc_single_threaded;

namespace velmora {

void InitializeCriticalSection(CRITICAL_SECTION* /*section*/) {
  // The mutex is ready from the section's construction.
}

void EnterCriticalSection(CRITICAL_SECTION* section) { section->mutex.lock(); }

void LeaveCriticalSection(CRITICAL_SECTION* section) { section->mutex.unlock(); }

void DeleteCriticalSection(CRITICAL_SECTION* /*section*/) {
  // Released with the section itself.
}

bool IsMultiThread() {
  // The archive asks for every item it extracts; a process that never
  // started a thread is answered without listing /proc.
  if (__libc_single_threaded != 0) return false;
  // Every thread of the process is an entry of /proc/self/task.
  DIR* tasks = ::opendir("/proc/self/task");
  if (tasks == nullptr) return true;  // unknown: locking is always safe
  int threads = 0;
  while (struct dirent* entry = ::readdir(tasks)) {
    if (entry->d_name[0] != '.') ++threads;
  }
  ::closedir(tasks);
  return threads > 1;
}

}  // namespace velmora
