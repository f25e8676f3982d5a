// Round trips: zlib compresses, Inflate must give back the same bytes and
// checksums, and leave the source just after the stream.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "archive/inflate/inflate.h"
#include "tests/archive/inflate/inflate_test_support.h"
#include "tests/support/deflate_bit_writer.h"

namespace velmora {
namespace {

using test::ZlibDeflateRaw;

std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed, int alphabet) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> data(size);
  for (auto& b : data) b = static_cast<uint8_t>(rng() % static_cast<uint32_t>(alphabet));
  return data;
}

// Text-like data with long repeats: words drawn from a small vocabulary.
std::vector<uint8_t> WordSoup(size_t size, uint32_t seed) {
  static const char* kWords[] = {"deflate ", "window ", "huffman ", "the ", "of ", "stream ",
                                 "archive\n", "zip ", "code ", "length ", "distance, "};
  std::mt19937 rng(seed);
  std::vector<uint8_t> data;
  while (data.size() < size) {
    const char* w = kWords[rng() % 11];
    data.insert(data.end(), w, w + std::strlen(w));
  }
  data.resize(size);
  return data;
}

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path, size_t limit) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> data(std::istreambuf_iterator<char>(in), {});
  if (data.size() > limit) data.resize(limit);
  return data;
}

// The stream decoded from a source that lends its memory: the same bytes,
// the same source position after it and the same progress as from one that
// copies, for small and large streams and for damaged ones.
void ExpectLentSourceDecodesAsCopied(std::vector<uint8_t> packed, const char* what) {
  packed.insert(packed.end(), 20000, 0x5A);  // what lies after an item
  struct Run {
    std::vector<int32_t> reports;
    std::string error;
    uint32_t crc = 0;
    int64_t position = 0;
    std::vector<uint8_t> output;
  };
  auto decode = [&](TStream& source) {
    Run run;
    TMemoryStream dest;
    TAbDeflateHelper helper;
    helper.SourceSize = static_cast<int64_t>(packed.size() - 20000);
    helper.OnProgressPercent = [&run](int32_t p) { run.reports.push_back(p); };
    try {
      run.crc = Inflate(&source, &dest, &helper);
    } catch (const std::exception& e) {
      run.error = e.what();
    }
    run.position = source.Position();
    run.output = dest.Data();
    return run;
  };
  for (int32_t step : {5, 4096, 1 << 20}) {
    inflate_test::LendingStream lending(packed, step);
    TMemoryStream copying(packed);
    const Run lent = decode(lending), copied = decode(copying);
    EXPECT_EQ(lent.error, copied.error) << what << ", step " << step;
    EXPECT_EQ(lent.crc, copied.crc) << what << ", step " << step;
    EXPECT_EQ(lent.position, copied.position) << what << ", step " << step;
    EXPECT_EQ(lent.reports, copied.reports) << what << ", step " << step;
    EXPECT_TRUE(lent.output == copied.output) << what << ", step " << step;
  }
}

TEST(InflateRoundTrip, SourceThatLendsItsMemoryDecodesAsOneThatCopies) {
  for (size_t size : {0, 30, 3000, 300000}) {
    const std::vector<uint8_t> data = WordSoup(size, 7);
    for (int level : {0, 1, 9}) {
      std::vector<uint8_t> packed = ZlibDeflateRaw(data, level, Z_DEFAULT_STRATEGY);
      ExpectLentSourceDecodesAsCopied(packed, "whole");
      packed.resize(packed.size() * 2 / 3);
      ExpectLentSourceDecodesAsCopied(packed, "cut short");
      if (packed.size() > 8) packed[packed.size() / 2] ^= 0x5C;
      ExpectLentSourceDecodesAsCopied(packed, "damaged");
    }
  }
}

void ExpectRoundTrip(const std::vector<uint8_t>& data, int level, int strategy) {
  std::vector<uint8_t> packed = ZlibDeflateRaw(data, level, strategy);
  const size_t stream_size = packed.size();
  // Trailing bytes that are not part of the stream must stay unread.
  packed.insert(packed.end(), {0xDE, 0xAD, 0xBE, 0xEF, 0x01});
  TMemoryStream source(packed), dest;
  TAbDeflateHelper helper;
  uint32_t crc = Inflate(&source, &dest, &helper);
  ASSERT_EQ(dest.Data().size(), data.size()) << "level " << level << " strategy " << strategy;
  EXPECT_TRUE(dest.Data() == data) << "level " << level << " strategy " << strategy;
  EXPECT_EQ(crc, test::ZlibCrc32(data));
  EXPECT_EQ(helper.PackedSize, static_cast<int32_t>(stream_size));
  EXPECT_EQ(helper.UnpackedSize, static_cast<int32_t>(data.size()));
  EXPECT_EQ(source.Position(), static_cast<int64_t>(stream_size));
}

TEST(InflateRoundTrip, EveryLevelAndStrategyOnMixedData) {
  std::vector<uint8_t> data = WordSoup(300000, 1);
  std::vector<uint8_t> noise = RandomBytes(70000, 2, 256);
  data.insert(data.begin() + 100000, noise.begin(), noise.end());
  for (int strategy : {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED})
    for (int level = 0; level <= 9; ++level) ExpectRoundTrip(data, level, strategy);
}

TEST(InflateRoundTrip, RandomDataOfManySizesAndAlphabets) {
  for (size_t size : {0, 1, 2, 3, 4, 5, 7, 100, 16383, 16384, 16385, 65535, 65536, 65537,
                      200001}) {
    for (int alphabet : {2, 17, 256}) {
      ExpectRoundTrip(RandomBytes(size, static_cast<uint32_t>(size) + alphabet, alphabet), 6,
                      Z_DEFAULT_STRATEGY);
    }
  }
}

TEST(InflateRoundTrip, RealFilesFromThisMachine) {
  int tried = 0;
  for (const char* path : {"/usr/include/stdio.h", "/usr/include/zlib.h", "/bin/sh",
                           "/usr/lib/x86_64-linux-gnu/libz.so.1"}) {
    if (!std::filesystem::exists(path)) continue;
    std::vector<uint8_t> data = ReadFileBytes(path, 4 << 20);
    for (int level : {1, 6, 9}) ExpectRoundTrip(data, level, Z_DEFAULT_STRATEGY);
    ++tried;
  }
  if (tried == 0) GTEST_SKIP() << "no system files to compress";
}

TEST(InflateRoundTrip, RepeatsEveryShortAndLongPeriod) {
  // Each period is a random pattern repeated well past the longest match,
  // so matches of 258 bytes at that distance (and, with RLE, at 1) follow.
  std::vector<uint8_t> data;
  std::vector<uint32_t> periods;
  for (uint32_t p = 1; p <= 40; ++p) periods.push_back(p);
  for (uint32_t p : {63u, 64u, 65u, 255u, 1000u, 4097u, 32768u}) periods.push_back(p);
  for (uint32_t p : periods) {
    const std::vector<uint8_t> pattern = RandomBytes(p, p, 256);
    for (size_t n = 0; n < std::max<size_t>(3 * p, 1100); n += p)
      data.insert(data.end(), pattern.begin(), pattern.end());
  }
  for (int strategy : {Z_DEFAULT_STRATEGY, Z_RLE}) ExpectRoundTrip(data, 9, strategy);
}

// A destination that records the size of every write.
class WriteSizes : public TMemoryStream {
 public:
  int32_t Write(const void* buffer, int32_t count) override {
    sizes.push_back(count);
    return TMemoryStream::Write(buffer, count);
  }
  std::vector<int32_t> sizes;
};

TEST(InflateRoundTrip, OutputLeavesInBlocksAsItIsMadeAndMatchesReachAcrossSlides) {
  // Random blocks each repeated 32 KiB later: the farthest matches Deflate
  // has, across every slide of the window in 3.5 MiB of output.
  std::vector<uint8_t> data;
  for (uint32_t seed = 0; data.size() < (7u << 19); ++seed) {
    const std::vector<uint8_t> a = RandomBytes(24576, seed, 256);
    const std::vector<uint8_t> b = RandomBytes(8192, seed + 1000, 64);
    for (const auto* part : {&a, &b, &a}) data.insert(data.end(), part->begin(), part->end());
  }
  std::vector<uint8_t> packed = ZlibDeflateRaw(data, 6, Z_DEFAULT_STRATEGY);
  TMemoryStream source(packed);
  WriteSizes dest;
  TAbDeflateHelper helper;
  EXPECT_EQ(Inflate(&source, &dest, &helper), test::ZlibCrc32(data));
  EXPECT_TRUE(dest.Data() == data);
  // Blocks of about 256 KiB: never much more, and never the whole at once.
  EXPECT_GE(dest.sizes.size(), data.size() / (256 * 1024));
  for (int32_t size : dest.sizes) EXPECT_LE(size, 256 * 1024 + 258 + 64);
}

TEST(InflateRoundTrip, Adler32MatchesZlib) {
  std::vector<uint8_t> data = WordSoup(150000, 5);
  std::vector<uint8_t> packed = ZlibDeflateRaw(data, 9);
  TMemoryStream source(packed), dest;
  TAbDeflateHelper helper;
  helper.Options |= dfoAdler32;
  EXPECT_EQ(Inflate(&source, &dest, &helper), test::ZlibAdler32(data));
}

}  // namespace
}  // namespace velmora
