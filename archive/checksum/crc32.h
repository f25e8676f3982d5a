// CRC-32 of ZIP (reflected polynomial 0xEDB88320). A running value starts
// at 0xFFFFFFFF and the CRC is its complement; the update routines do
// neither, the callers do.
#pragma once

#include <array>
#include <cstdint>

namespace velmora {

namespace crc32_detail {
constexpr std::array<uint32_t, 256> MakeTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    table[n] = c;
  }
  return table;
}
}  // namespace crc32_detail

// The one table that every CRC routine and the ZIP decryption keys use.
inline constexpr std::array<uint32_t, 256> Crc32Table = crc32_detail::MakeTable();
static_assert(Crc32Table[1] == 0x77073096u && Crc32Table[128] == 0xEDB88320u &&
              Crc32Table[255] == 0x2D02EF8Du);

inline uint32_t UpdateCrc32Byte(uint8_t b, uint32_t c) {
  return Crc32Table[(c ^ b) & 0xFF] ^ (c >> 8);
}

void UpdateCrc32Block(uint32_t& crc, const void* buffer, uint16_t count);
// A count of 0 or less changes nothing.
void UpdateCrc32Buffer(uint32_t& crc, const void* buffer, int32_t count);

}  // namespace velmora
