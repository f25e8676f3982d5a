// CRC-32 by carry-less multiplication folding (Gopal et al., "Fast CRC
// Computation for Generic Polynomials Using PCLMULQDQ Instruction", Intel
// 2009). A 128-bit accumulator holding the message so far is "folded" forward
// over the next D bits by multiplying its two 64-bit halves with the constants
// x^(D+32) mod P and x^(D-32) mod P (bit-reflected) and xoring the products
// into the data D bits further on; the remainder mod P is unchanged. Several
// accumulators run side by side to hide the multiplier's latency. The last
// 16 bytes of accumulator and the tail go through the slicing kernel, which
// spares us the Barrett reduction.
#include "archive/checksum/crc32_fold.h"
#include "archive/checksum/crc32_kernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VELMORA_CRC32_X86 1
#endif

namespace velmora::crc32_detail {

#if VELMORA_CRC32_X86
namespace {

// The published constants for folding by 512 and by 128 bits.
static_assert(FoldConstant(512 + 32) == 0x154442bd4 && FoldConstant(512 - 32) == 0x1c6e41596);
static_assert(FoldConstant(128 + 32) == 0x1751997d0 && FoldConstant(128 - 32) == 0x0ccaa009e);

#define VELMORA_TARGET_CLMUL __attribute__((target("pclmul,sse4.1")))
#define VELMORA_TARGET_WIDE __attribute__((target("vpclmulqdq,pclmul,avx2,sse4.1")))

VELMORA_TARGET_CLMUL inline __m128i Constants128(FoldPair k) {
  return _mm_set_epi64x(static_cast<long long>(k.high), static_cast<long long>(k.low));
}

VELMORA_TARGET_CLMUL inline __m128i Fold128(__m128i acc, __m128i k, __m128i data) {
  __m128i lo = _mm_clmulepi64_si128(acc, k, 0x00);
  __m128i hi = _mm_clmulepi64_si128(acc, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(lo, hi), data);
}

VELMORA_TARGET_CLMUL inline __m128i Load128(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Folds the remaining whole 16-byte blocks into acc, then finishes the
// accumulator and the tail byte-wise.
VELMORA_TARGET_CLMUL uint32_t FinishFolding(__m128i acc, const uint8_t* data, size_t length) {
  const __m128i k128 = Constants128(FoldBy(128));
  while (length >= 16) {
    acc = Fold128(acc, k128, Load128(data));
    data += 16;
    length -= 16;
  }
  alignas(16) uint8_t folded[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(folded), acc);
  // The accumulator stands for a message whose register starts at 0.
  uint32_t crc = UpdateSliced(0, folded, sizeof folded);
  return UpdateSliced(crc, data, length);
}

// Eight accumulators of 16 bytes, so 128 bytes per step.
constexpr size_t kLanes = 8;
constexpr size_t kStep = kLanes * 16;

VELMORA_TARGET_CLMUL __m128i ReduceLanes(__m128i (&x)[kLanes]) {
  const __m128i k512 = Constants128(FoldBy(512));
  const __m128i k256 = Constants128(FoldBy(256));
  const __m128i k128 = Constants128(FoldBy(128));
  for (size_t i = 0; i < 4; ++i) x[i + 4] = Fold128(x[i], k512, x[i + 4]);
  for (size_t i = 4; i < 6; ++i) x[i + 2] = Fold128(x[i], k256, x[i + 2]);
  return Fold128(x[6], k128, x[7]);
}

}  // namespace

bool HasCarrylessMultiply() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}

bool HasWideCarrylessMultiply() {
  __builtin_cpu_init();
  return HasCarrylessMultiply() && __builtin_cpu_supports("avx2") &&
         __builtin_cpu_supports("vpclmulqdq");
}

VELMORA_TARGET_CLMUL uint32_t UpdateFolded(uint32_t crc, const uint8_t* data, size_t length) {
  if (length < 2 * kStep) return UpdateSliced(crc, data, length);
  __m128i x[kLanes];
  for (size_t i = 0; i < kLanes; ++i) x[i] = Load128(data + 16 * i);
  // The running register is the same as having xored it into the first four
  // message bytes and starting from 0.
  x[0] = _mm_xor_si128(x[0], _mm_cvtsi32_si128(static_cast<int>(crc)));
  data += kStep;
  length -= kStep;
  const __m128i k = Constants128(FoldBy(kStep * 8));
  while (length >= kStep) {
    for (size_t i = 0; i < kLanes; ++i) x[i] = Fold128(x[i], k, Load128(data + 16 * i));
    data += kStep;
    length -= kStep;
  }
  return FinishFolding(ReduceLanes(x), data, length);
}

namespace {

// The wide kernel: eight 256-bit accumulators, 256 bytes per step.
constexpr size_t kWideStep = 8 * 32;

VELMORA_TARGET_WIDE inline __m256i Constants256(FoldPair k) {
  return _mm256_set_epi64x(static_cast<long long>(k.high), static_cast<long long>(k.low),
                           static_cast<long long>(k.high), static_cast<long long>(k.low));
}

VELMORA_TARGET_WIDE inline __m256i Fold256(__m256i acc, __m256i k, __m256i data) {
  __m256i lo = _mm256_clmulepi64_epi128(acc, k, 0x00);
  __m256i hi = _mm256_clmulepi64_epi128(acc, k, 0x11);
  return _mm256_xor_si256(_mm256_xor_si256(lo, hi), data);
}

VELMORA_TARGET_WIDE inline __m256i Load256(const uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

VELMORA_TARGET_WIDE __m128i ReduceWideLanes(__m256i (&y)[8]) {
  for (size_t i = 0; i < 4; ++i) y[i + 4] = Fold256(y[i], Constants256(FoldBy(1024)), y[i + 4]);
  for (size_t i = 4; i < 6; ++i) y[i + 2] = Fold256(y[i], Constants256(FoldBy(512)), y[i + 2]);
  __m256i last = Fold256(y[6], Constants256(FoldBy(256)), y[7]);
  // The low 128-bit lane comes first in the message.
  return Fold128(_mm256_castsi256_si128(last), Constants128(FoldBy(128)),
                 _mm256_extracti128_si256(last, 1));
}

}  // namespace

VELMORA_TARGET_WIDE uint32_t UpdateFoldedWide(uint32_t crc, const uint8_t* data, size_t length) {
  if (length < 2 * kWideStep) return UpdateFolded(crc, data, length);
  __m256i y[8];
  for (size_t i = 0; i < 8; ++i) y[i] = Load256(data + 32 * i);
  y[0] = _mm256_xor_si256(y[0], _mm256_zextsi128_si256(_mm_cvtsi32_si128(static_cast<int>(crc))));
  data += kWideStep;
  length -= kWideStep;
  const __m256i k = Constants256(FoldBy(kWideStep * 8));
  while (length >= kWideStep) {
    for (size_t i = 0; i < 8; ++i) y[i] = Fold256(y[i], k, Load256(data + 32 * i));
    data += kWideStep;
    length -= kWideStep;
  }
  return FinishFolding(ReduceWideLanes(y), data, length);
}

VELMORA_TARGET_WIDE uint32_t ReduceLoopFold(const uint8_t* accumulator) {
  // The earlier half folded onto the later one: 32 bytes that stand for
  // the whole, as a message from a register of 0.
  const __m256i folded = Fold256(Load256(accumulator), Constants256(FoldBy(256)),
                                 Load256(accumulator + 32));
  alignas(32) uint8_t bytes[32];
  _mm256_store_si256(reinterpret_cast<__m256i*>(bytes), folded);
  return UpdateSliced(0, bytes, sizeof bytes);
}

#else  // not x86: the slices do all the work

bool HasCarrylessMultiply() { return false; }
bool HasWideCarrylessMultiply() { return false; }
uint32_t UpdateFolded(uint32_t crc, const uint8_t* data, size_t length) {
  return UpdateSliced(crc, data, length);
}
uint32_t UpdateFoldedWide(uint32_t crc, const uint8_t* data, size_t length) {
  return UpdateSliced(crc, data, length);
}
uint32_t ReduceLoopFold(const uint8_t* accumulator) { return UpdateSliced(0, accumulator, 64); }

#endif

}  // namespace velmora::crc32_detail
