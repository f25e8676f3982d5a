#include "archive/checksum/crc32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "archive/checksum/crc32_fold.h"
#include "archive/checksum/crc32_kernels.h"

namespace velmora {
namespace {

uint32_t ZipCrc(const std::string& text) {
  uint32_t running = 0xFFFFFFFF;
  UpdateCrc32Buffer(running, text.data(), static_cast<int32_t>(text.size()));
  return ~running;
}

// The definition: one table lookup per byte.
uint32_t ByteLoop(uint32_t crc, const uint8_t* data, size_t length) {
  for (size_t i = 0; i < length; ++i) crc = UpdateCrc32Byte(data[i], crc);
  return crc;
}

std::vector<uint8_t> RandomBytes(size_t length, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bytes(length);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

TEST(Crc32, GivesTheKnownCheckValues) {
  EXPECT_EQ(ZipCrc("123456789"), 0xCBF43926u);
  EXPECT_EQ(ZipCrc("abc"), 0x352441C2u);
  EXPECT_EQ(ZipCrc(""), 0u);
}

TEST(Crc32, TableHoldsTheReflectedPolynomial) {
  EXPECT_EQ(Crc32Table[0], 0u);
  EXPECT_EQ(Crc32Table[1], 0x77073096u);
  EXPECT_EQ(Crc32Table[128], 0xEDB88320u);
  EXPECT_EQ(Crc32Table[255], 0x2D02EF8Du);
}

TEST(Crc32, NonPositiveCountLeavesTheValueAlone) {
  uint32_t running = 0x12345678;
  UpdateCrc32Buffer(running, "x", 0);
  UpdateCrc32Buffer(running, "x", -5);
  EXPECT_EQ(running, 0x12345678u);
}

TEST(Crc32, BlockFormTakesSixteenBitCounts) {
  auto data = RandomBytes(65535, 7);
  uint32_t running = 0xFFFFFFFF;
  UpdateCrc32Block(running, data.data(), 65535);
  EXPECT_EQ(running, ByteLoop(0xFFFFFFFF, data.data(), data.size()));
}

TEST(Crc32, ChunkedUpdatesEqualOneUpdate) {
  auto data = RandomBytes(100000, 11);
  uint32_t whole = 0xFFFFFFFF;
  UpdateCrc32Buffer(whole, data.data(), static_cast<int32_t>(data.size()));
  uint32_t pieces = 0xFFFFFFFF;
  size_t at = 0;
  for (size_t chunk : {1, 3, 300, 7000, 17, 4096}) {
    UpdateCrc32Buffer(pieces, data.data() + at, static_cast<int32_t>(chunk));
    at += chunk;
  }
  UpdateCrc32Buffer(pieces, data.data() + at, static_cast<int32_t>(data.size() - at));
  EXPECT_EQ(pieces, whole);
}

using Kernel = uint32_t (*)(uint32_t, const uint8_t*, size_t);

#if defined(__x86_64__)
// As a decoder's loop folds: whole steps, the accumulator reduced, then the
// rest by the ordinary update.
[[gnu::target(VELMORA_CRC32_FOLD_TARGET)]] uint32_t LoopFolded(uint32_t crc, const uint8_t* data,
                                                               size_t length) {
  if (length < kCrc32FoldStep) return crc32_detail::UpdateSliced(crc, data, length);
  crc32_fold::Accumulator acc = crc32_fold::Start(crc, data);
  size_t at = kCrc32FoldStep;
  for (; length - at >= kCrc32FoldStep; at += kCrc32FoldStep)
    acc = crc32_fold::Step(acc, data + at);
  uint8_t bytes[kCrc32FoldStep];
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(bytes), acc.early);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(bytes + 32), acc.late);
  return crc32_detail::UpdateSliced(Crc32OfFoldAccumulator(bytes), data + at, length - at);
}
#endif

struct NamedKernel {
  const char* name;
  Kernel kernel;
  bool available;
};

std::vector<NamedKernel> Kernels() {
  return {
      {"dispatch",
       [](uint32_t crc, const uint8_t* data, size_t length) {
         UpdateCrc32Buffer(crc, data, static_cast<int32_t>(length));
         return crc;
       },
       true},
      {"sliced", crc32_detail::UpdateSliced, true},
      {"folded", crc32_detail::UpdateFolded, crc32_detail::HasCarrylessMultiply()},
      {"folded-wide", crc32_detail::UpdateFoldedWide, crc32_detail::HasWideCarrylessMultiply()},
#if defined(__x86_64__)
      {"loop-fold", LoopFolded, Crc32LoopFoldAvailable()},
#endif
  };
}

TEST(Crc32, EveryKernelAgreesWithTheByteLoopOnRandomLengthsAndAlignments) {
  auto pool = RandomBytes(5000 + 64, 1);
  std::mt19937 rng(2);
  for (const auto& k : Kernels()) {
    if (!k.available) continue;
    SCOPED_TRACE(k.name);
    for (size_t align = 0; align < 64; ++align) {
      for (int trial = 0; trial < 12; ++trial) {
        size_t length = rng() % 5001;
        uint32_t start = static_cast<uint32_t>(rng());
        const uint8_t* data = pool.data() + align;
        ASSERT_EQ(k.kernel(start, data, length), ByteLoop(start, data, length))
            << "length " << length << " alignment " << align;
      }
    }
  }
}

TEST(Crc32, EveryKernelAgreesAroundItsBlockBoundaries) {
  auto pool = RandomBytes(1200, 3);
  for (const auto& k : Kernels()) {
    if (!k.available) continue;
    SCOPED_TRACE(k.name);
    for (size_t length = 0; length <= 1100; ++length) {
      ASSERT_EQ(k.kernel(0xFFFFFFFF, pool.data() + 1, length),
                ByteLoop(0xFFFFFFFF, pool.data() + 1, length))
          << "length " << length;
    }
  }
}

TEST(Crc32, EveryKernelAgreesOnSeveralMebibytes) {
  auto data = RandomBytes((5 << 20) + 13, 4);
  const uint32_t expected = ByteLoop(0xFFFFFFFF, data.data(), data.size());
  for (const auto& k : Kernels()) {
    if (!k.available) continue;
    EXPECT_EQ(k.kernel(0xFFFFFFFF, data.data(), data.size()), expected) << k.name;
  }
}

TEST(Crc32, EveryKernelHandlesAllZerosAndAllOnes) {
  for (uint8_t fill : {uint8_t{0}, uint8_t{0xFF}}) {
    std::vector<uint8_t> data(4099, fill);
    const uint32_t expected = ByteLoop(0, data.data(), data.size());
    for (const auto& k : Kernels()) {
      if (!k.available) continue;
      EXPECT_EQ(k.kernel(0, data.data(), data.size()), expected) << k.name;
    }
  }
}

#if defined(__x86_64__)
// A decoder's loop keeps the accumulator in memory between its runs: stored
// and loaded back at any step, it must carry on as if never stored.
[[gnu::target(VELMORA_CRC32_FOLD_TARGET)]] uint32_t FoldedInRuns(uint32_t crc,
                                                                 const std::vector<uint8_t>& data,
                                                                 size_t steps_per_run) {
  alignas(32) uint8_t stored[kCrc32FoldStep];
  crc32_fold::Accumulator acc = crc32_fold::Start(crc, data.data());
  size_t at = kCrc32FoldStep;
  for (size_t step = 1; data.size() - at >= kCrc32FoldStep; ++step, at += kCrc32FoldStep) {
    if (step % steps_per_run == 0) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(stored), acc.early);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(stored + 32), acc.late);
      acc = {crc32_fold::Load(stored), crc32_fold::Load(stored + 32)};
    }
    acc = crc32_fold::Step(acc, data.data() + at);
  }
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(stored), acc.early);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(stored + 32), acc.late);
  return crc32_detail::UpdateSliced(Crc32OfFoldAccumulator(stored), data.data() + at,
                                    data.size() - at);
}

TEST(Crc32, LoopFoldCarriesOnFromAStoredAccumulator) {
  if (!Crc32LoopFoldAvailable()) GTEST_SKIP() << "no VPCLMULQDQ here";
  auto data = RandomBytes(100000 + 37, 9);
  for (uint32_t start : {0xFFFFFFFFu, 0u, 0x12345678u}) {
    const uint32_t expected = ByteLoop(start, data.data(), data.size());
    for (size_t steps : {1, 2, 7, 1000})
      EXPECT_EQ(FoldedInRuns(start, data, steps), expected) << steps;
  }
}
#endif

}  // namespace
}  // namespace velmora
