// Shrunk data of any shape: the expansion ends with the output or a clear
// error, never a crash, hang or overrun.
#include "fuzz/legacy_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velmora::fuzz::ExpandLegacy(1, data, size, 1 << 20);
  return 0;
}
