// bzip2 items decoded block by block on several threads against the same
// items decoded one block after another (Threads = 1), which is the
// authority: the same bytes, CRC-32 and progress on good data; on damaged,
// crafted or unusual data the same error after exactly the same bytes.
// Items of over 2 MB from libbz2 at level 9 hold three blocks or more.
#include "archive/methods/bzip2_blocks.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "archive/methods/bzip2_parallel.h"
#include "archive/methods/method_io.h"
#include "archive/methods/methods.h"
#include "tests/support/method_encoders.h"
#include "tests/support/zip_writer.h"

namespace velmora {
namespace {

struct Decoded {
  std::vector<uint8_t> output;
  uint32_t crc = 0;
  std::vector<int> steps;
  int32_t code = 0;
  std::string error;
};

Decoded Decode(const std::vector<uint8_t>& packed, int64_t declared, int threads,
               int abort_at = -1) {
  TMemoryStream source(packed), dest;
  Decoded d;
  TAbMethodJob job;
  job.Source = &source;
  job.PackedSize = static_cast<int64_t>(packed.size());
  job.Destination = &dest;
  job.UnpackedSize = declared;
  job.Threads = threads;
  job.OnProgress = [&](uint8_t percent, bool& abort) {
    d.steps.push_back(percent);
    abort = abort_at >= 0 && percent >= abort_at;
  };
  try {
    d.crc = DecodeMethodData(kZipMethodBzip2, job);
  } catch (const EAbException& e) {
    d.code = e.ErrorCode;
    d.error = e.Message();
  }
  d.output = dest.Data();
  return d;
}

// Decodes on three threads and alone; expects the two to agree in every
// respect and returns the first.
Decoded DecodeBothWays(const std::vector<uint8_t>& packed, int64_t declared, int abort_at = -1) {
  Decoded parallel = Decode(packed, declared, 3, abort_at);
  const Decoded alone = Decode(packed, declared, 1, abort_at);
  EXPECT_EQ(parallel.error, alone.error);
  EXPECT_EQ(parallel.code, alone.code);
  EXPECT_EQ(parallel.output.size(), alone.output.size());
  EXPECT_TRUE(parallel.output == alone.output);
  EXPECT_EQ(parallel.crc, alone.crc);
  EXPECT_EQ(parallel.steps, alone.steps);
  return parallel;
}

int64_t SizeOf(const std::vector<uint8_t>& data) { return static_cast<int64_t>(data.size()); }

// The side-by-side decoder alone: whether it took the stream, and how many
// bytes it passed on (all of them when it took it).
std::pair<bool, int64_t> DecodeBlocksOnly(const std::vector<uint8_t>& packed, int64_t declared) {
  TMemoryStream dest;
  TAbMethodJob job;
  job.Destination = &dest;
  job.UnpackedSize = declared;
  TAbMethodOutput method_output(job, "bzip2");
  TAbChunkedOutput output(method_output);
  return {DecodeBzip2Blocks(packed, 2, output), output.Added()};
}

// Where the magics are: the real block starts of a library stream.
std::vector<uint64_t> MagicBits(const std::vector<uint8_t>& packed) {
  const TBzip2MagicFinder finder(packed);
  std::vector<uint64_t> bits;
  for (auto mark = finder.Next(0); mark; mark = finder.Next(mark->bit + 1))
    bits.push_back(mark->bit);
  return bits;
}

// 2.5 MB of text and libbz2's stream of it (level 9: three blocks).
class Bzip2Blocks : public ::testing::Test {
 protected:
  static const std::vector<uint8_t>& Plain() {
    static const auto* plain = new std::vector<uint8_t>(testing::VariedText(2500000));
    return *plain;
  }
  static const std::vector<uint8_t>& Packed() {
    static const auto* packed = new std::vector<uint8_t>(testing::Bzip2Compress(Plain()));
    return *packed;
  }
  const std::vector<uint8_t>& plain_ = Plain();
  const std::vector<uint8_t>& packed_ = Packed();
};

TEST(Bzip2MagicFinder, FindsBothMagicsAtEveryBitOffset) {
  for (int offset = 0; offset < 8; ++offset) {
    for (const uint64_t magic : {kBzip2BlockMagic, kBzip2EndMagic}) {
      // 0xFF bytes, the magic 17 bytes and offset bits in, then zeros.
      std::vector<uint8_t> data(32, 0xFF);
      const uint64_t at = 17 * 8 + static_cast<uint64_t>(offset);
      for (uint64_t i = 0; i < 48 + 8; ++i) {
        const bool one = i < 48 && ((magic >> (47 - i)) & 1) != 0;
        const uint64_t bit = at + i;
        if (!one) data[bit / 8] &= static_cast<uint8_t>(~(0x80 >> (bit % 8)));
      }
      const auto mark = TBzip2MagicFinder(data).Next(0);
      ASSERT_TRUE(mark.has_value()) << offset;
      EXPECT_EQ(mark->bit, at);
      EXPECT_EQ(mark->end_of_stream, magic == kBzip2EndMagic);
      EXPECT_FALSE(TBzip2MagicFinder(data).Next(at + 1).has_value());
      // Cut inside the magic: nothing is found.
      data.resize(at / 8 + 5);
      EXPECT_FALSE(TBzip2MagicFinder(data).Next(0).has_value());
    }
  }
}

TEST_F(Bzip2Blocks, LibraryStreamOfSeveralBlocksDecodesToItsContent) {
  ASSERT_GE(MagicBits(packed_).size(), 4u);  // three blocks and the end
  EXPECT_EQ(DecodeBlocksOnly(packed_, SizeOf(plain_)), std::make_pair(true, SizeOf(plain_)));
  const Decoded d = DecodeBothWays(packed_, SizeOf(plain_));
  EXPECT_EQ(d.error, "");
  EXPECT_TRUE(d.output == plain_);
  EXPECT_EQ(d.crc, testing::Crc32Of(plain_));
  EXPECT_EQ(d.steps.back(), 100);
}

TEST_F(Bzip2Blocks, DamagedMiddleBlockFailsAfterTheSameBytesAsAlone) {
  const std::vector<uint64_t> bits = MagicBits(packed_);
  // A byte inside the second block's coded data; then a bit of its stored
  // CRC, so that it decodes whole and fails only the check.
  for (const uint64_t damaged_bit : {bits[1] + 8000, bits[1] + 48 + 5}) {
    std::vector<uint8_t> packed = packed_;
    packed[damaged_bit / 8] ^= static_cast<uint8_t>(0x80 >> (damaged_bit % 8));
    // The first block goes on from the side-by-side decoder, the rest from
    // the sequential one.
    const auto [done, passed_on] = DecodeBlocksOnly(packed, SizeOf(plain_));
    EXPECT_FALSE(done);
    EXPECT_GT(passed_on, 800000);
    const Decoded d = DecodeBothWays(packed, SizeOf(plain_));
    EXPECT_EQ(d.error, "Cannot extract file - bzip2 data is damaged");
    // The first block (some 900 KB) went on before the failure.
    EXPECT_GT(d.output.size(), 800000u);
    EXPECT_TRUE(std::equal(d.output.begin(), d.output.end(), plain_.begin()));
  }
}

TEST_F(Bzip2Blocks, WrongCombinedCrcFailsAndBytesAfterTheStreamAreIgnoredAsAlone) {
  std::vector<uint8_t> packed = packed_;
  packed[packed.size() - 2] ^= 0x10;  // wholly inside the combined CRC
  EXPECT_EQ(DecodeBothWays(packed, SizeOf(plain_)).error,
            "Cannot extract file - bzip2 data is damaged");
  packed = packed_;
  packed.insert(packed.end(), {'s', 'l', 'a', 'c', 'k'});
  EXPECT_TRUE(DecodeBothWays(packed, SizeOf(plain_)).output == plain_);
  // Cut short inside the last block.
  packed.resize(packed_.size() - 100);
  EXPECT_EQ(DecodeBothWays(packed, SizeOf(plain_)).error,
            "Cannot extract file - bzip2 data ends before its end of stream");
}

TEST_F(Bzip2Blocks, DeclaredSizeAndAbortStopAtTheSameByteAsAlone) {
  const int64_t size = SizeOf(plain_);
  for (const int64_t declared : {size - 1, size - 1000000, int64_t{70000}}) {
    const Decoded d = DecodeBothWays(packed_, declared);
    EXPECT_EQ(d.error,
              "Cannot extract file - bzip2 data decodes to more than the item's "
              "declared size of " +
                  std::to_string(declared) + " bytes");
    EXPECT_LE(SizeOf(d.output), declared);
  }
  const Decoded aborted = DecodeBothWays(packed_, size, 40);
  EXPECT_EQ(aborted.code, AbUserAbort);
  EXPECT_LT(SizeOf(aborted.output), size);
}

TEST(Bzip2Parallel, FalseBlockMagicInsideABlockStillDecodes) {
  // A block lists the byte values it uses as a bitmap: first which of the
  // 16 ranges of 16 values occur (0x3141: ranges 2, 3, 7, 9 and 15), then
  // for each range which values (0x5926 for range 2, 0x5359 for range 3),
  // 105 bits into the block. With exactly these values, every block holds
  // the block magic 0x314159265359 there, if no byte repeats 4 times (the
  // run's length would be a byte of its own). The first block is ordinary
  // text.
  const std::vector<uint8_t> alphabet = {0x21, 0x23, 0x24, 0x27, 0x2A, 0x2D, 0x2E, 0x31, 0x33,
                                         0x36, 0x37, 0x39, 0x3B, 0x3C, 0x3F, 0x70, 0x90, 0xF0};
  std::vector<uint8_t> plain = testing::VariedText(800000, 3);
  uint32_t state = 5;
  while (plain.size() < 2600000) {
    state = state * 1103515245u + 12345u;
    const uint8_t next = alphabet[(state >> 12) % alphabet.size()];
    if (next != plain.back()) plain.push_back(next);
  }
  const std::vector<uint8_t> packed = testing::Bzip2Compress(plain);
  const std::vector<uint64_t> bits = MagicBits(packed);
  ASSERT_GE(bits.size(), 6u);
  EXPECT_EQ(bits[2] - bits[1], 105u);  // the false one, in the second block
  EXPECT_FALSE(DecodeBlocksOnly(packed, SizeOf(plain)).first);
  const Decoded d = DecodeBothWays(packed, SizeOf(plain));
  EXPECT_EQ(d.error, "");
  EXPECT_TRUE(d.output == plain);
}

TEST(Bzip2Parallel, StreamsBackToBackDecodeAsOne) {
  const std::vector<uint8_t> first = testing::VariedText(2000000, 7);
  const std::vector<uint8_t> second = testing::VariedText(1000000, 8);
  std::vector<uint8_t> packed = testing::Bzip2Compress(first);
  const std::vector<uint8_t> more = testing::Bzip2Compress(second);
  packed.insert(packed.end(), more.begin(), more.end());
  std::vector<uint8_t> plain = first;
  plain.insert(plain.end(), second.begin(), second.end());
  EXPECT_TRUE(DecodeBothWays(packed, SizeOf(plain)).output == plain);
  // Declared as the first stream alone: the second is not looked at.
  EXPECT_TRUE(DecodeBothWays(packed, SizeOf(first)).output == first);
}

TEST(Bzip2Parallel, ItemsOfOneBlockAndEmptyItemsDecode) {
  const std::vector<uint8_t> plain = testing::VariedText(300000, 9);
  EXPECT_TRUE(DecodeBothWays(testing::Bzip2Compress(plain), SizeOf(plain)).output == plain);
  EXPECT_EQ(DecodeBothWays(testing::Bzip2Compress({}), 0).error, "");
  EXPECT_EQ(DecodeBothWays({'B', 'Z', 'h', '9', 0x31}, 10).error,
            "Cannot extract file - bzip2 data ends before its end of stream");
}

}  // namespace
}  // namespace velmora
