// The archive's lock: re-entrant for the thread that holds it, and taken
// only when the process runs more than one thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/win32.h"

namespace velmora {

class TAbPadLock {
 public:
  TAbPadLock();
  ~TAbPadLock();
  TAbPadLock(const TAbPadLock&) = delete;
  TAbPadLock& operator=(const TAbPadLock&) = delete;

  bool Locked() const { return count_ > 0; }
  // true: enter (multi-threaded processes only); false: leave once, when
  // held.
  void SetLocked(bool value);

 private:
  CRITICAL_SECTION section_;
  // Changed only by the holder; atomic so that another thread may ask.
  std::atomic<int32_t> count_{0};
};

}  // namespace velmora
