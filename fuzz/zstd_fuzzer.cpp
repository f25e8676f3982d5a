// Zstandard (method 93) on arbitrary bytes: see methods_fuzz_support.h.
//
// Seeds (fuzz/corpus/zstd_fuzzer): two size bytes, then the zstd tool's
// output (-3, and -19 with a checksum) for short texts, two frames back to
// back, and a skippable frame before one.
#include "fuzz/methods_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velmora::fuzz::DecodeAsMethod(velmora::kZipMethodZstd, data, size);
  return 0;
}
