// Inflate on arbitrary bytes. The first byte chooses the variant (bit 0:
// Deflate64, bit 1: Adler-32, bit 2: an output limit of 1,000, bit 3: a
// source that trickles a few bytes per read, bit 4: the lending source's
// few bytes per loan); the rest is the stream.
// Output goes to test-only mode, so the fuzzer's memory stays small. Every
// outcome must be a result or one of the decoder's own exceptions, with the
// source left inside the input. The same stream from a source that lends
// its memory must end the same way: the same checksum or error, the same
// position left in the source and the same progress reports.
//
// Seeds (fuzz/corpus/inflate_fuzzer): fixed_literal is 00 4B 04 00 (one
// fixed block holding "a"), empty_fixed 00 03 00, empty_stored_d64 an empty
// stored block in Deflate64 mode; dynamic_text, adler_limit and
// trickle_rle are a mode byte (00, 06, 08) followed by Python's
// zlib.compressobj(level, DEFLATED, -15) output of some text, of
// bytes(i*i%251 for i in range(3000)), and of 5000 "a" and 300 "b".
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/base/exceptions.h"
#include "archive/inflate/inflate.h"
#include "tests/support/source_streams.h"

namespace {

struct Outcome {
  uint32_t checksum = 0;
  std::string error;
  int64_t position = 0;
  std::vector<int32_t> reports;
  bool operator==(const Outcome&) const = default;
};

Outcome Decode(velmora::TStream& source, uint8_t mode, int64_t size) {
  Outcome outcome;
  velmora::TMemoryStream dest;
  velmora::TAbDeflateHelper helper;
  helper.Options = velmora::kDefaultDeflateOptions | velmora::dfoTestOnly;
  if (mode & 1) helper.Options |= velmora::dfoDeflate64;
  if (mode & 2) helper.Options |= velmora::dfoAdler32;
  if (mode & 4) helper.OutputLimit = 1000;
  helper.SourceSize = std::max<int64_t>(size, 1);
  helper.OnProgressPercent = [&outcome](int32_t p) { outcome.reports.push_back(p); };
  try {
    outcome.checksum = velmora::Inflate(&source, &dest, &helper);
  } catch (const velmora::EAbInflateError& e) {
    outcome.error = e.what();
  }
  if (dest.Size() != 0) std::abort();  // test-only mode writes nothing
  outcome.position = source.Position();
  if (outcome.position < 0 || outcome.position > size) std::abort();
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  std::vector<uint8_t> stream(data + 1, data + size);
  const auto stream_size = static_cast<int64_t>(stream.size());
  velmora::test::TrickleStream copying(stream, (mode & 8) ? 3 : 1 << 30);
  velmora::test::LendingStream lending(stream, (mode & 16) ? 5 : 1 << 30);
  if (!(Decode(copying, mode, stream_size) == Decode(lending, mode, stream_size))) std::abort();
  return 0;
}
