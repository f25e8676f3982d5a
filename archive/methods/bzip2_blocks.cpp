#include "archive/methods/bzip2_blocks.h"

#include <array>
#include <cstring>

namespace velmora {

namespace {

// For each byte value, the bit offsets s (0..7, as bits of a mask) at which
// a magic starting s bits into the byte before it would have this byte as
// its second: bits 8 - s to 15 - s of the magic. Most bytes are no such
// byte, so the search looks at one byte in about sixteen more closely.
constexpr std::array<uint8_t, 256> MakeSecondByteTable() {
  std::array<uint8_t, 256> table{};
  for (int s = 0; s < 8; ++s) {
    table[(kBzip2BlockMagic >> (32 + s)) & 0xFF] |= static_cast<uint8_t>(1 << s);
    table[(kBzip2EndMagic >> (32 + s)) & 0xFF] |= static_cast<uint8_t>(1 << s);
  }
  return table;
}

constexpr std::array<uint8_t, 256> kSecondByte = MakeSecondByteTable();

// Appends bits to a byte vector, the first one highest.
class BitAppender {
 public:
  explicit BitAppender(std::vector<uint8_t>& out) : out_(out) {}
  void Put(uint64_t value, int count) {
    for (int i = count - 1; i >= 0; --i) {
      pending_ = static_cast<uint8_t>((pending_ << 1) | ((value >> i) & 1));
      if (++pending_bits_ == 8) {
        out_.push_back(pending_);
        pending_ = 0;
        pending_bits_ = 0;
      }
    }
  }
  // Pads the last byte with zero bits.
  void Finish() {
    if (pending_bits_ > 0) Put(0, 8 - pending_bits_);
  }

 private:
  std::vector<uint8_t>& out_;
  uint8_t pending_ = 0;
  int pending_bits_ = 0;
};

}  // namespace

int Bzip2StreamLevel(std::span<const uint8_t> data) {
  if (data.size() < 4 || data[0] != 'B' || data[1] != 'Z' || data[2] != 'h') return 0;
  if (data[3] < '1' || data[3] > '9') return 0;
  return data[3] - '0';
}

uint64_t Bzip2MaxBlockBits(int level) {
  constexpr uint64_t kLongestCode = 20;
  // Magic, CRC, flags, the used-bytes map (16 + 256), the selectors
  // (32,767 of up to 6 bits), six code tables of 258 lengths (each as an
  // encoder writes it: at most 19 steps of 2 bits and an end bit).
  constexpr uint64_t kTablesBits =
      48 + 32 + 1 + 24 + 272 + 3 + 15 + 32767 * 6 + 6 * (5 + 258 * 39);
  return (static_cast<uint64_t>(level) * 100000 + 1) * kLongestCode + kTablesBits;
}

uint64_t TBzip2MagicFinder::Bits(uint64_t bit, int count) const {
  const uint64_t byte = bit / 8;
  uint64_t window = 0;
  for (uint64_t i = 0; i < 8; ++i) {
    window <<= 8;
    if (byte + i < data_.size()) window |= data_[byte + i];
  }
  const int shift = 64 - static_cast<int>(bit % 8) - count;
  return (window >> shift) & ((uint64_t{1} << count) - 1);
}

std::optional<TBzip2MagicFinder::Mark> TBzip2MagicFinder::Next(uint64_t from_bit) const {
  const uint8_t* data = data_.data();
  const uint64_t size = data_.size();
  // j is the magic's second byte; it starts s bits into byte j - 1.
  for (uint64_t j = from_bit / 8 + 1; j < size; ++j) {
    const uint8_t offsets = kSecondByte[data[j]];
    if (offsets == 0) [[likely]]
      continue;
    for (int s = 0; s < 8; ++s) {
      if ((offsets >> s & 1) == 0) continue;
      const uint64_t bit = (j - 1) * 8 + static_cast<uint64_t>(s);
      if (bit < from_bit || kBzip2MagicBits > BitSize() - bit) continue;
      const uint64_t bits = Bits(bit, kBzip2MagicBits);
      if (bits == kBzip2BlockMagic) return Mark{bit, false};
      if (bits == kBzip2EndMagic) return Mark{bit, true};
    }
  }
  return std::nullopt;
}

void BuildOneBlockStream(std::span<const uint8_t> data, uint64_t begin_bit, uint64_t end_bit,
                         int level, std::vector<uint8_t>& stream) {
  const TBzip2MagicFinder bits(data);
  const uint64_t count = end_bit - begin_bit;
  const uint64_t whole = count / 8;
  stream.resize(4 + whole);
  stream.reserve(stream.size() + 16);
  stream[0] = 'B';
  stream[1] = 'Z';
  stream[2] = 'h';
  stream[3] = static_cast<uint8_t>('0' + level);
  // Whole bytes first, shifted to the boundary in one pass.
  const uint64_t first = begin_bit / 8;
  const int shift = static_cast<int>(begin_bit % 8);
  uint8_t* out = stream.data() + 4;
  if (shift == 0) {
    std::memcpy(out, data.data() + first, whole);
  } else {
    for (uint64_t i = 0; i < whole; ++i) {
      const unsigned high = data[first + i],
                     low = first + i + 1 < data.size() ? data[first + i + 1] : 0;
      out[i] = static_cast<uint8_t>((high << shift) | (low >> (8 - shift)));
    }
  }
  BitAppender tail(stream);
  const int rest = static_cast<int>(count % 8);
  if (rest > 0) tail.Put(bits.Bits(begin_bit + whole * 8, rest), rest);
  tail.Put(kBzip2EndMagic, kBzip2MagicBits);
  tail.Put(bits.Bits(begin_bit + kBzip2MagicBits, kBzip2CrcBits), kBzip2CrcBits);
  tail.Finish();
}

}  // namespace velmora
