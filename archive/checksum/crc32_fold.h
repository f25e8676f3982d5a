// CRC-32 folded 64 bytes at a time inside a caller's own loop. A decoder's
// hot loop waits on chains of dependent loads and leaves the vector unit
// idle; one carry-less multiplication step per iteration over output it
// produced earlier costs it almost nothing, where a separate pass over the
// output costs a few per cent of the decoding.
//
// The accumulator is two 256-bit halves, together congruent (mod P) to the
// message folded so far, as a message whose CRC register starts at 0: a
// step multiplies each half's 128-bit lanes forward by 512 bits and adds
// the next 64 bytes (the folding of crc32_folding.cpp with two
// accumulators, which halves the work per byte that does not fold).
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace velmora {

namespace crc32_detail {
constexpr uint64_t kPolynomial = 0x104C11DB7;  // IEEE 802.3, normal order

constexpr uint32_t XPowModP(unsigned n) {
  uint64_t r = 1;
  for (unsigned i = 0; i < n; ++i) {
    r <<= 1;
    if (r & (uint64_t{1} << 32)) r ^= kPolynomial;
  }
  return static_cast<uint32_t>(r);
}

constexpr uint64_t Reflect32(uint32_t v) {
  uint64_t r = 0;
  for (int i = 0; i < 32; ++i) r |= uint64_t{(v >> i) & 1} << (31 - i);
  return r;
}

// The 33-bit multiplier that moves a reflected 64-bit half n bits forward.
constexpr uint64_t FoldConstant(unsigned n) { return Reflect32(XPowModP(n)) << 1; }

// Folding D bits forward multiplies the low (earlier) half by x^(D+32) and
// the high half by x^(D-32).
struct FoldPair {
  uint64_t low;
  uint64_t high;
};
constexpr FoldPair FoldBy(unsigned bits) {
  return {FoldConstant(bits + 32), FoldConstant(bits - 32)};
}
}  // namespace crc32_detail

// Bytes one step takes, and the bytes of a stored accumulator.
constexpr size_t kCrc32FoldStep = 64;

// True where the steps below may run: x86-64 with VPCLMULQDQ and AVX2.
bool Crc32LoopFoldAvailable();

// The running CRC-32 (not complemented) of everything an accumulator stands
// for, from its kCrc32FoldStep bytes as stored (the earlier half first).
// Only where Crc32LoopFoldAvailable().
uint32_t Crc32OfFoldAccumulator(const uint8_t* accumulator);

#if defined(__x86_64__)
// The target a loop that calls the steps is compiled for.
#define VELMORA_CRC32_FOLD_TARGET "avx2,pclmul,vpclmulqdq"

namespace crc32_fold {
struct Accumulator {
  __m256i early;  // the earlier 32 bytes of each 64
  __m256i late;
};

[[gnu::target(VELMORA_CRC32_FOLD_TARGET)]] inline __m256i Load(const uint8_t* data) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data));
}

// An accumulator for the 64 bytes at data, after a message whose running
// CRC is crc: the register is the same as xoring it into the first bytes
// and starting from 0.
[[gnu::target(VELMORA_CRC32_FOLD_TARGET)]] inline Accumulator Start(uint32_t crc,
                                                                     const uint8_t* data) {
  const __m256i register_bits = _mm256_zextsi128_si256(_mm_cvtsi32_si128(static_cast<int>(crc)));
  return {_mm256_xor_si256(Load(data), register_bits), Load(data + 32)};
}

// One half moved forward by a step and the next 32 bytes added.
[[gnu::target(VELMORA_CRC32_FOLD_TARGET)]] inline __m256i FoldHalf(__m256i half,
                                                                    const uint8_t* next) {
  constexpr crc32_detail::FoldPair k = crc32_detail::FoldBy(8 * kCrc32FoldStep);
  const __m256i constants =
      _mm256_set_epi64x(static_cast<long long>(k.high), static_cast<long long>(k.low),
                        static_cast<long long>(k.high), static_cast<long long>(k.low));
  const __m256i lo = _mm256_clmulepi64_epi128(half, constants, 0x00);
  const __m256i hi = _mm256_clmulepi64_epi128(half, constants, 0x11);
  return _mm256_xor_si256(_mm256_xor_si256(lo, hi), Load(next));
}

// Folds the 64 bytes at data into acc.
[[gnu::target(VELMORA_CRC32_FOLD_TARGET)]] inline Accumulator Step(Accumulator acc,
                                                                    const uint8_t* data) {
  return {FoldHalf(acc.early, data), FoldHalf(acc.late, data + 32)};
}
}  // namespace crc32_fold
#endif

}  // namespace velmora
