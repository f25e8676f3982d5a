// bzip2 (method 12) on arbitrary bytes: see methods_fuzz_support.h.
//
// Seeds (fuzz/corpus/bzip2_fuzzer): two size bytes, then Python's
// bz2.compress of short texts (one of them two streams back to back), and
// one with a block byte changed.
#include "fuzz/methods_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velmora::fuzz::DecodeAsMethod(velmora::kZipMethodBzip2, data, size);
  return 0;
}
