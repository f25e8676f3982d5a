// Pieces the test-side encoders of the legacy ZIP methods share: a bit
// writer that packs least significant bit first (as shrink, reduce and
// implode read), and a greedy LZ77 parser. Test helpers only; never shipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmora::testing {

class LsbBitWriter {
 public:
  void Write(uint32_t value, int bits) {
    for (int i = 0; i < bits; ++i) {
      if (used_ == 0) bytes_.push_back(0);
      bytes_.back() |= static_cast<uint8_t>(((value >> i) & 1) << used_);
      used_ = (used_ + 1) & 7;
    }
  }
  size_t BitCount() const { return bytes_.size() * 8 - (used_ ? 8 - used_ : 0); }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  int used_ = 0;
};

// One step of an LZ77 parse: a literal (length 0) or a copy of `length`
// bytes from `distance` bytes back (which may reach before the start,
// where the decoders see zeros).
struct LzToken {
  uint32_t length = 0;
  uint8_t literal = 0;
  uint32_t distance = 0;
};

struct LzParseLimits {
  uint32_t min_length = 3;
  uint32_t max_length = 258;
  uint32_t max_distance = 4096;
  int chain_depth = 48;
};

// Greedy longest-match parse with hash chains over three-byte prefixes.
std::vector<LzToken> ParseLz(const std::vector<uint8_t>& data, const LzParseLimits& limits);

// What the tokens expand to, with zeros before the start.
std::vector<uint8_t> ExpandLz(const std::vector<LzToken>& tokens);

}  // namespace velmora::testing
