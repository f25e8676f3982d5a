// Output decoded straight into memory the destination lends for the
// declared size, and what happens when the data disagrees with that size.
#include <gtest/gtest.h>

#include "archive/inflate/inflate.h"
#include "tests/archive/inflate/inflate_test_support.h"
#include "tests/support/deflate_bit_writer.h"

namespace velmora {
namespace {

using test::DeflateBitWriter;

// A memory stream that counts the output that reached it through Write.
class CountingStream : public TMemoryStream {
 public:
  int32_t Write(const void* buffer, int32_t count) override {
    written += count;
    return TMemoryStream::Write(buffer, count);
  }
  int64_t written = 0;
};

// Text-like data with long and short matches, over several of the blocks
// output leaves in.
std::vector<uint8_t> Sample(size_t size) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i)
    data[i] = static_cast<uint8_t>("abcdefgh"[(i * 2654435761u >> 13) % 8] + (i >> 16) % 3);
  return data;
}

uint32_t DecodeKnowing(const std::vector<uint8_t>& packed, int64_t known, TStream& dest,
                       uint32_t options = kDefaultDeflateOptions, int32_t* unpacked = nullptr) {
  TMemoryStream source(packed);
  TAbDeflateHelper helper;
  helper.Options = options;
  helper.KnownUnpackedSize = known;
  const uint32_t crc = Inflate(&source, &dest, &helper);
  if (unpacked) *unpacked = helper.UnpackedSize;
  return crc;
}

TEST(InflateInPlace, OutputOfTheDeclaredSizeIsDecodedIntoTheLentMemory) {
  const std::vector<uint8_t> data = Sample(3 << 20);
  CountingStream dest;
  int32_t unpacked = 0;
  const uint32_t crc = DecodeKnowing(test::ZlibDeflateRaw(data, 6), static_cast<int64_t>(data.size()),
                                     dest, kDefaultDeflateOptions, &unpacked);
  EXPECT_EQ(dest.written, 0);
  EXPECT_EQ(dest.Data(), data);
  EXPECT_EQ(dest.Position(), static_cast<int64_t>(data.size()));
  EXPECT_EQ(crc, test::ZlibCrc32(data));
  EXPECT_EQ(unpacked, static_cast<int32_t>(data.size()));
}

TEST(InflateInPlace, DataRunningPastTheDeclaredSizeGoesOnThroughWrites) {
  const std::vector<uint8_t> data = Sample(400000);
  const std::vector<uint8_t> packed = test::ZlibDeflateRaw(data, 9);
  // Sizes that end the lent memory within the history's reach of its start,
  // beyond it, and one byte short.
  for (int64_t known : {30001, 70000, 399999}) {
    CountingStream dest;
    EXPECT_EQ(DecodeKnowing(packed, known, dest), test::ZlibCrc32(data)) << known;
    EXPECT_EQ(dest.Data(), data) << known;
    // A match that would cross the end of the lent memory is made after it.
    const int64_t past = static_cast<int64_t>(data.size()) - known;
    EXPECT_GE(dest.written, past) << known;
    EXPECT_LT(dest.written, past + 258) << known;
  }
}

TEST(InflateInPlace, ShorterOutputLeavesOnlyWhatWasProducedAfterWhatWasThere) {
  const std::vector<uint8_t> data = Sample(100000);
  TMemoryStream dest(std::vector<uint8_t>(10, 'x'));
  dest.Seek(0, soFromEnd);
  DecodeKnowing(test::ZlibDeflateRaw(data, 6), 300000, dest);
  std::vector<uint8_t> expected = data;
  expected.insert(expected.begin(), 10, 'x');
  EXPECT_EQ(dest.Data(), expected);

  // Literals "abc", then a match reaching before the first byte.
  DeflateBitWriter w;
  w.Bits(1, 1).Bits(1, 2).FixedSymbol('a').FixedSymbol('b').FixedSymbol('c');
  w.FixedSymbol(257).FixedDistance(3);  // length 3, distance 4
  TMemoryStream failed;
  EXPECT_THROW(DecodeKnowing(w.Finish(), 100000, failed), EAbInflateError);
  EXPECT_EQ(failed.Data(), (std::vector<uint8_t>{'a', 'b', 'c'}));
}

TEST(InflateInPlace, TestOnlyDecodingWritesOnlyWhatRunsPastTheKnownSize) {
  const std::vector<uint8_t> data = Sample(600000);
  CountingStream dest;
  int32_t unpacked = 0;
  EXPECT_EQ(DecodeKnowing(test::ZlibDeflateRaw(data, 1), 595000, dest,
                          kDefaultDeflateOptions | dfoTestOnly, &unpacked),
            test::ZlibCrc32(data));
  EXPECT_EQ(unpacked, 600000);
  EXPECT_EQ(dest.Data(), std::vector<uint8_t>(data.end() - 5000, data.end()));
}

TEST(InflateChecksum, CoversOutputMadeFasterThanItIsTakenInEveryOutputMode) {
  // Long zero runs come out 258 bytes a symbol, faster than the CRC-32 is
  // taken beside the decoding, so what it leaves behind grows past a slide
  // of the window; text between them has it catch up again.
  std::vector<uint8_t> data;
  for (int part = 0; part < 4; ++part) {
    data.insert(data.end(), 1500000, 0);
    const std::vector<uint8_t> text = Sample(200000 + 3 * part);
    data.insert(data.end(), text.begin(), text.end());
  }
  const std::vector<uint8_t> packed = test::ZlibDeflateRaw(data, 6);
  const uint32_t expected = test::ZlibCrc32(data);
  const auto size = static_cast<int64_t>(data.size());
  // Lent memory for all, for part (then left), and none.
  for (int64_t known : {size, size - 2000000, int64_t{-1}}) {
    TMemoryStream dest;
    EXPECT_EQ(DecodeKnowing(packed, known, dest), expected) << known;
    EXPECT_TRUE(dest.Data() == data) << known;
    TMemoryStream counted;
    int32_t unpacked = 0;
    EXPECT_EQ(DecodeKnowing(packed, known, counted, kDefaultDeflateOptions | dfoTestOnly, &unpacked),
              expected)
        << known;
    EXPECT_EQ(unpacked, size) << known;
  }
}

TEST(InflateChecksum, IsRightAcrossTheRunsOfTheHotLoopWhateverTheSourceHandsOut) {
  // Every 16 KiB of input ends a run of the hot loop, which leaves the
  // CRC-32 of its output to the next run; a source that hands out a few
  // bytes per read must change nothing.
  const std::vector<uint8_t> data = Sample(1 << 20);
  const std::vector<uint8_t> packed = test::ZlibDeflateRaw(data, 6);
  for (int32_t step : {1, 300, 4096}) {
    for (int64_t known : {static_cast<int64_t>(data.size()), int64_t{-1}}) {
      inflate_test::TrickleStream source(packed, step);
      TMemoryStream dest;
      TAbDeflateHelper helper;
      helper.KnownUnpackedSize = known;
      EXPECT_EQ(Inflate(&source, &dest, &helper), test::ZlibCrc32(data)) << step << " " << known;
      EXPECT_TRUE(dest.Data() == data) << step << " " << known;
    }
  }
}

TEST(InflatedSize, DeclaredSizesBeyondTheDensestStreamAreImpossible) {
  const std::vector<uint8_t> zeros(4 << 20, 0);
  const auto packed = static_cast<int64_t>(test::ZlibDeflateRaw(zeros, 9).size());
  EXPECT_TRUE(InflatedSizeIsPossible(packed, 4 << 20, false));
  EXPECT_FALSE(InflatedSizeIsPossible(1000, int64_t{4} << 30, false));
  // Deflate64's 16 extra length bits reach further from the same bytes.
  EXPECT_FALSE(InflatedSizeIsPossible(1000, 3000000, false));
  EXPECT_TRUE(InflatedSizeIsPossible(1000, 3000000, true));
  EXPECT_FALSE(InflatedSizeIsPossible(-1, 10, false));
}

}  // namespace
}  // namespace velmora
