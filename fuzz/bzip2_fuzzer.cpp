// bzip2 (method 12) on arbitrary bytes (see methods_fuzz_support.h), decoded
// twice: one block after another, and with the blocks side by side on two
// threads. Both must pass on the same bytes and end the same way (the same
// error text, or none); a difference crashes the target.
//
// Seeds (fuzz/corpus/bzip2_fuzzer): two size bytes, then Python's
// bz2.compress of short texts (one of them two streams back to back), and
// one with a block byte changed; and streams of two and three small blocks
// made by fuzz/make_bzip2_seeds.py (one with a damaged middle block, one
// with a false block magic in each block, one with bytes after the end).
#include <cstdlib>
#include <string>

#include "fuzz/methods_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using velmora::kZipMethodBzip2;
  if (size < 2) return 0;
  velmora::TMemoryStream alone, side_by_side;
  const std::string alone_error =
      velmora::fuzz::DecodeInputInto(kZipMethodBzip2, data, size, 1, alone);
  const std::string parallel_error =
      velmora::fuzz::DecodeInputInto(kZipMethodBzip2, data, size, 2, side_by_side);
  if (alone_error != parallel_error || alone.Data() != side_by_side.Data()) std::abort();
  return 0;
}
