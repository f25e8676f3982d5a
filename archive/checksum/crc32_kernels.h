// The CRC-32 update kernels behind UpdateCrc32Buffer. They all compute the
// same thing as the byte-at-a-time table loop of crc32.h; they differ only in
// speed. Exposed so the tests can hold each one against that loop.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmora::crc32_detail {

// Slicing-by-16: sixteen tables derived from Crc32Table, sixteen bytes per
// step. Any length, any alignment, any CPU.
uint32_t UpdateSliced(uint32_t crc, const uint8_t* data, size_t length);

// Carry-less multiplication folding (PCLMULQDQ). Only callable when
// HasCarrylessMultiply() is true; any length (short ones go to the slices).
uint32_t UpdateFolded(uint32_t crc, const uint8_t* data, size_t length);
bool HasCarrylessMultiply();

// The same folding over 256-bit registers (VPCLMULQDQ with AVX2). Only
// callable when HasWideCarrylessMultiply() is true.
uint32_t UpdateFoldedWide(uint32_t crc, const uint8_t* data, size_t length);
bool HasWideCarrylessMultiply();
// The running CRC of a loop's two-half fold accumulator (crc32_fold.h).
// Only callable when HasWideCarrylessMultiply() is true.
uint32_t ReduceLoopFold(const uint8_t* accumulator);

}  // namespace velmora::crc32_detail
