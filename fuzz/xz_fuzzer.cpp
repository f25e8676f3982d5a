// xz (method 95) on arbitrary bytes: see methods_fuzz_support.h.
//
// Seeds (fuzz/corpus/xz_fuzzer): two size bytes, then Python's
// lzma.compress (FORMAT_XZ, CRC-64 and CRC-32 checks) of short texts.
#include "fuzz/methods_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velmora::fuzz::DecodeAsMethod(velmora::kZipMethodXz, data, size);
  return 0;
}
