// Reduced data of any shape (the first byte picks the factor, the next two
// the expected size): the expansion ends with the output or a clear error,
// never a crash, hang or overrun.
#include "fuzz/legacy_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  velmora::fuzz::ExpandLegacy(static_cast<uint8_t>(2 + data[0] % 4), data + 3, size - 3,
                              (data[1] | data[2] << 8) * 16);
  return 0;
}
