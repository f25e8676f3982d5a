#include "archive/base/pad_lock.h"

namespace velmora {

TAbPadLock::TAbPadLock() { InitializeCriticalSection(&section_); }

TAbPadLock::~TAbPadLock() { DeleteCriticalSection(&section_); }

void TAbPadLock::SetLocked(bool value) {
  if (value) {
    if (!IsMultiThread()) return;
    EnterCriticalSection(&section_);
    ++count_;
  } else if (count_ > 0) {
    --count_;
    LeaveCriticalSection(&section_);
  }
}

}  // namespace velmora
