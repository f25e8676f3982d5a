#include <array>
#include <bit>
#include <cstring>

#include "archive/checksum/crc32.h"
#include "archive/checksum/crc32_kernels.h"

namespace velmora::crc32_detail {
namespace {

constexpr int kSlices = 16;
using SliceTables = std::array<std::array<uint32_t, 256>, kSlices>;

// Table k advances a byte that still has k more bytes behind it in the same
// 16-byte step: entry n of table k is the CRC register after n followed by k
// zero bytes.
constexpr SliceTables MakeSliceTables() {
  SliceTables tables{};
  tables[0] = Crc32Table;
  for (int k = 1; k < kSlices; ++k) {
    for (int n = 0; n < 256; ++n) {
      uint32_t prev = tables[k - 1][n];
      tables[k][n] = (prev >> 8) ^ Crc32Table[prev & 0xFF];
    }
  }
  return tables;
}

constexpr SliceTables kSliceTables = MakeSliceTables();
static_assert(kSliceTables[1][1] == ((0x77073096u >> 8) ^ Crc32Table[0x96]));

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline uint32_t Slice4(uint32_t word, int first_table) {
  const auto& t = kSliceTables;
  return t[first_table][word & 0xFF] ^ t[first_table - 1][(word >> 8) & 0xFF] ^
         t[first_table - 2][(word >> 16) & 0xFF] ^ t[first_table - 3][word >> 24];
}

}  // namespace

uint32_t UpdateSliced(uint32_t crc, const uint8_t* data, size_t length) {
  uint32_t c = crc;
  // The word loads below read the bytes in little-endian order.
  if constexpr (std::endian::native == std::endian::little) {
    while (length >= kSlices) {
      uint32_t w0 = Load32(data) ^ c;
      uint32_t w1 = Load32(data + 4);
      uint32_t w2 = Load32(data + 8);
      uint32_t w3 = Load32(data + 12);
      c = Slice4(w0, 15) ^ Slice4(w1, 11) ^ Slice4(w2, 7) ^ Slice4(w3, 3);
      data += kSlices;
      length -= kSlices;
    }
  }
  while (length-- > 0) c = UpdateCrc32Byte(*data++, c);
  return c;
}

}  // namespace velmora::crc32_detail
