// The block structure of a bzip2 stream held whole in memory. A stream is
// "BZh" and a level digit, then blocks, each starting with a 48-bit magic
// and its CRC-32 and decoded from a fresh state, then a 48-bit end magic,
// the combined CRC-32 and padding to a byte. Nothing aligns the magics to a
// byte, and nothing in a block says where it ends short of decoding it:
// the finder here looks for the magics bit by bit, so a block's data that
// happens (or is made) to hold one gives a false start, which only a
// decoding can tell.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace velmora {

// bzip2's magics: the first digits of pi and of the square root of pi.
constexpr uint64_t kBzip2BlockMagic = 0x314159265359;
constexpr uint64_t kBzip2EndMagic = 0x177245385090;
constexpr int kBzip2MagicBits = 48;
constexpr int kBzip2CrcBits = 32;
// "BZh" and the level digit '1'..'9' (blocks of level * 100,000 bytes).
constexpr uint64_t kBzip2HeaderBits = 32;

// The level (1..9) of the stream header data starts with, or 0 when it
// starts with none.
int Bzip2StreamLevel(std::span<const uint8_t> data);

// The most bits one block of a level can take: every one of its symbols
// (at most the block size and the end symbol) in the longest code bzip2
// allows (20 bits), and room for its tables as far as libbz2 reads them
// (up to 32,767 selectors). Past that a code length may still go up and
// down any number of times, which no encoder writes: a stretch between two
// magics longer than this is left to the sequential decoder.
uint64_t Bzip2MaxBlockBits(int level);

// Finds the magics in data bit by bit, in order.
class TBzip2MagicFinder {
 public:
  explicit TBzip2MagicFinder(std::span<const uint8_t> data) : data_(data) {}

  struct Mark {
    uint64_t bit = 0;
    bool end_of_stream = false;
  };
  // The first block or end magic starting at from_bit or later.
  std::optional<Mark> Next(uint64_t from_bit) const;

  // count (at most 56) bits from bit on, the first one highest; the bits
  // past the end of data read as 0.
  uint64_t Bits(uint64_t bit, int count) const;
  uint64_t BitSize() const { return static_cast<uint64_t>(data_.size()) * 8; }

 private:
  std::span<const uint8_t> data_;
};

// Makes the bits [begin_bit, end_bit) of data (one block, from its magic
// on) a stream of their own that libbz2 takes: the header of level, the
// block's bits moved to the byte boundary, the end magic, the block's own
// CRC as the combined one (of one block it is the block's), padding.
// Decoding it ends the stream exactly when the block ends exactly at
// end_bit and its CRC holds.
void BuildOneBlockStream(std::span<const uint8_t> data, uint64_t begin_bit, uint64_t end_bit,
                         int level, std::vector<uint8_t>& stream);

}  // namespace velmora
