// Imploded data of any shape (the first byte picks the dictionary, bit 1,
// and the tree count, bit 2, as the general purpose flags do; the next two
// the expected size): the expansion ends with the output or a clear
// error, never a crash, hang or overrun.
#include "fuzz/legacy_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint8_t flags = data[0];
  velmora::fuzz::ExpandLegacy(6, data + 3, size - 3, (data[1] | data[2] << 8) * 16,
                              [flags](velmora::TAbUnzipHelper& helper) {
                                helper.ImplodeDictionary = (flags & 2)
                                                               ? velmora::kImplodeDictionary8K
                                                               : velmora::kImplodeDictionary4K;
                                helper.ImplodeTreeCount = (flags & 4) ? 3 : 2;
                              });
  return 0;
}
