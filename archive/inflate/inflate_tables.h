// The constant tables of Deflate (RFC 1951, section 3.2.5), with the
// Deflate64 values in the slots that plain Deflate never uses: length
// symbol 285 and distance symbols 30 and 31.
#pragma once

#include <array>
#include <cstdint>

namespace velmora {

// Indexed by length symbol - 257. Symbol 285 is 258 in Deflate; the table
// holds the Deflate64 base 3, and the decoder special-cases Deflate.
inline constexpr std::array<uint16_t, 29> kLengthBase = {
    3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
    31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3};
static_assert(kLengthBase.size() == 29);

// Same index; 16 is Deflate64's count for symbol 285. 286 and 287 hold 99,
// never used: those symbols are rejected.
inline constexpr std::array<uint8_t, 31> kLengthExtraBits = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
    3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16, 99, 99};
static_assert(kLengthExtraBits.size() == 31);

inline constexpr std::array<uint16_t, 32> kDistanceBase = {
    1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
    49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
    2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
static_assert(kDistanceBase.size() == 32);

inline constexpr std::array<uint8_t, 32> kDistanceExtraBits = {
    0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6,
    7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
static_assert(kDistanceExtraBits.size() == 32);

// Order in which a dynamic block lists the code-length code's lengths.
inline constexpr std::array<uint8_t, 19> kCodeLengthOrder = {
    16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
static_assert(kCodeLengthOrder.size() == 19);

namespace inflate_detail {
constexpr std::array<uint32_t, 33> MakeBitMasks() {
  std::array<uint32_t, 33> masks{};
  for (int n = 0; n < 32; ++n) masks[n] = (uint32_t{1} << n) - 1;
  masks[32] = 0xFFFFFFFFu;
  return masks;
}
constexpr std::array<uint8_t, 256> MakeByteReversal() {
  std::array<uint8_t, 256> table{};
  for (int b = 0; b < 256; ++b) {
    int r = 0;
    for (int i = 0; i < 8; ++i) r |= ((b >> i) & 1) << (7 - i);
    table[b] = static_cast<uint8_t>(r);
  }
  return table;
}
}  // namespace inflate_detail

inline constexpr std::array<uint32_t, 33> kBitMask = inflate_detail::MakeBitMasks();
static_assert(kBitMask[0] == 0 && kBitMask[5] == 31 && kBitMask[32] == 0xFFFFFFFFu);

inline constexpr std::array<uint8_t, 256> kByteReversal = inflate_detail::MakeByteReversal();
static_assert(kByteReversal[0x01] == 0x80 && kByteReversal[0x8D] == 0xB1);

// Deflate's longest match and largest distance, and Deflate64's.
constexpr int32_t kDeflateMaxMatch = 258;
constexpr int32_t kDeflate64MaxMatch = 65538;
constexpr int32_t kDeflateMaxDistance = 32768;
constexpr int32_t kDeflate64MaxDistance = 65536;

}  // namespace velmora
