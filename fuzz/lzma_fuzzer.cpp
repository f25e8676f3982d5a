// LZMA with the ZIP header (method 14) on arbitrary bytes: see
// methods_fuzz_support.h.
//
// Seeds (fuzz/corpus/lzma_fuzzer): two size bytes, then the ZIP LZMA header
// (9.20, 5 property bytes) and raw LZMA1 from Python's lzma module (which
// writes the end marker), and one declaring less than the data holds.
#include "fuzz/methods_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velmora::fuzz::DecodeAsMethod(velmora::kZipMethodLzma, data, size);
  return 0;
}
