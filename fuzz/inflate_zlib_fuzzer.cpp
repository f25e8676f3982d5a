// Inflate against zlib's inflate on arbitrary raw Deflate streams. The first
// byte chooses how ours runs (bit 0: test-only mode, where only the size and
// the CRC-32 come back; bit 1: a source that trickles a few bytes per read;
// bit 2: Adler-32 instead of CRC-32; bit 3: a declared size, zlib's output
// size, bits 4-5 choosing it as is, 1,000 bytes short, 1,000 over or half,
// so the output goes into lent memory and may run past it or stop short);
// the rest is the stream.
//
// What must hold:
// - the bytes both produced agree as far as both got (so a refusal happens
//   at or after the same place in the output, never with different bytes);
// - a stream zlib decodes to its end, ours decodes too, to the same bytes,
//   the same checksum and the same count of compressed bytes used;
// - a stream ours decodes but zlib refuses is one of the cases where ours is
//   deliberately more lenient: zlib refuses incomplete or over-subscribed
//   code-length codes, incomplete literal/length and distance codes, a code
//   without an end-of-block symbol and repeats that run past the code
//   lengths, all at the block header; ours decodes on and refuses only a bit
//   pattern no code matches. And a stream cut short: ours reads the missing
//   bits of its last 32-bit word as zeros.
//
// Seeds (fuzz/corpus/inflate_zlib_fuzzer): the inflate target's Deflate
// seeds: dynamic_text and fixed_literal with mode byte 00, empty_fixed with
// 01, trickle_rle with 02 and adler_limit (its stream) with 04; and
// lent_text (08), lent_short_test_only (19) and lent_half_trickle (3a), one
// stream made by Python's zlib: compressobj(6, DEFLATED, -15) over
// /usr/include/stdio.h three times, cut at 60,000 bytes.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/base/exceptions.h"
#include "archive/checksum/crc32.h"
#include "archive/inflate/inflate.h"
#include "tests/support/source_streams.h"

namespace {

struct ZlibResult {
  std::vector<uint8_t> out;
  bool ended = false;
  bool input_ran_out = false;
  size_t used = 0;
  std::string message;
};

ZlibResult ZlibInflate(const uint8_t* data, size_t size) {
  ZlibResult r;
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) std::abort();
  z.next_in = const_cast<uint8_t*>(data);
  z.avail_in = static_cast<uInt>(size);
  std::vector<uint8_t> chunk(1 << 16);
  for (;;) {
    z.next_out = chunk.data();
    z.avail_out = static_cast<uInt>(chunk.size());
    int rc = inflate(&z, Z_NO_FLUSH);
    r.out.insert(r.out.end(), chunk.data(), chunk.data() + (chunk.size() - z.avail_out));
    if (rc == Z_STREAM_END) {
      r.ended = true;
      break;
    }
    if (rc == Z_BUF_ERROR || (rc == Z_OK && z.avail_in == 0 && z.avail_out != 0)) {
      r.input_ran_out = true;
      break;
    }
    if (rc != Z_OK) {
      r.message = z.msg ? z.msg : "";
      break;
    }
  }
  r.used = size - z.avail_in;
  inflateEnd(&z);
  return r;
}

bool ZlibIsStricterHere(const ZlibResult& z) {
  if (z.input_ran_out) return true;
  for (const char* m : {"invalid code lengths set", "invalid bit length repeat",
                        "invalid literal/lengths set", "invalid distances set",
                        "invalid code -- missing end-of-block"}) {
    if (z.message == m) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  const bool test_only = mode & 1;
  std::vector<uint8_t> stream(data + 1, data + size);
  const ZlibResult z = ZlibInflate(stream.data(), stream.size());

  velmora::test::TrickleStream source(stream, (mode & 2) ? 5 : 1 << 30);
  velmora::TMemoryStream dest;
  velmora::TAbDeflateHelper helper;
  helper.Options = velmora::kDefaultDeflateOptions;
  if (test_only) helper.Options |= velmora::dfoTestOnly;
  const bool adler = mode & 4;
  if (adler) helper.Options |= velmora::dfoAdler32;
  int64_t known = -1;
  if (mode & 8) {
    const auto produced = static_cast<int64_t>(z.out.size());
    const int64_t choices[4] = {produced, std::max<int64_t>(produced - 1000, 0), produced + 1000,
                                produced / 2};
    known = choices[(mode >> 4) & 3];
    helper.KnownUnpackedSize = known;
  }
  bool accepted = true;
  uint32_t checksum = 0;
  try {
    checksum = velmora::Inflate(&source, &dest, &helper);
  } catch (const velmora::EAbInflateError&) {
    accepted = false;
  }
  const std::vector<uint8_t>& ours = dest.Data();
  // A test-only decoding writes only what runs past the declared size.
  if (test_only && known < 0 && !ours.empty()) std::abort();
  if (test_only && known >= 0 && z.ended) {
    const size_t past = z.out.size() > static_cast<size_t>(known) ? z.out.size() - known : 0;
    if (accepted && (ours.size() != past ||
                     !std::equal(ours.begin(), ours.end(), z.out.end() - static_cast<long>(past))))
      std::abort();
  }
  if (!test_only) {
    const size_t common = std::min(ours.size(), z.out.size());
    if (common != 0 && std::memcmp(ours.data(), z.out.data(), common) != 0) std::abort();
  }
  if (z.ended) {
    if (!accepted) std::abort();
    const uint32_t expected =
        static_cast<uint32_t>(adler ? adler32(1, z.out.data(), static_cast<uInt>(z.out.size()))
                                    : crc32(0, z.out.data(), static_cast<uInt>(z.out.size())));
    if (checksum != expected) std::abort();
    if (static_cast<size_t>(helper.UnpackedSize) != z.out.size()) std::abort();
    if (!test_only && ours.size() != z.out.size()) std::abort();
    if (static_cast<size_t>(helper.PackedSize) != z.used) std::abort();
  } else if (accepted) {
    if (!ZlibIsStricterHere(z)) std::abort();
    if (!test_only && !adler) {
      uint32_t c = 0xFFFFFFFFu;
      velmora::UpdateCrc32Buffer(c, ours.data(), static_cast<int32_t>(ours.size()));
      if (~c != checksum) std::abort();
    }
  }
  return 0;
}
