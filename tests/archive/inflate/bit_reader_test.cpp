#include "archive/inflate/bit_reader.h"

#include <gtest/gtest.h>

#include <numeric>

#include "archive/inflate/inflate_errors.h"
#include "tests/archive/inflate/inflate_test_support.h"

namespace velmora {
namespace {

using inflate_test::ExpectAssertion;
using inflate_test::ExpectCause;
namespace cause = inflate_cause;

std::vector<uint8_t> Counting(size_t size) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i * 37 + (i >> 8));
  return data;
}

TEST(BitReader, TakesBitsFromTheLowEndOfEachByte) {
  TMemoryStream source(std::vector<uint8_t>{0x8D, 0x01});
  TAbDfInBitStream reader(&source, 0, nullptr);
  EXPECT_EQ(reader.ReadBits(3), 5u);   // 0x8D = 10001101: low three bits 101
  EXPECT_EQ(reader.ReadBits(6), 49u);  // 10001 from 0x8D, then bit 0 of 0x01
}

TEST(BitReader, PeekDoesNotConsumeAndDiscardDoes) {
  TMemoryStream source(std::vector<uint8_t>{0xAB, 0xCD, 0xEF, 0x12, 0x34});
  TAbDfInBitStream reader(&source, 0, nullptr);
  EXPECT_EQ(reader.PeekBits(12), 0xDABu);
  EXPECT_EQ(reader.PeekBits(32), 0x12EFCDABu);
  reader.DiscardBits(4);
  EXPECT_EQ(reader.PeekBits(32), 0x412EFCDAu);  // crosses into the fifth byte
  reader.DiscardBits(32);
  EXPECT_EQ(reader.ReadBits(4), 0x3u);
  EXPECT_EQ(reader.ReadBit(), 0u);
}

TEST(BitReader, SourceNotAMultipleOfFourEndsInZerosThatAreNeverConsumedInput) {
  std::vector<uint8_t> data = {0xFF, 0x01, 0x80, 0x11, 0x22};
  data.resize(5);
  TMemoryStream source(data);
  {
    TAbDfInBitStream reader(&source, 0, nullptr);
    EXPECT_EQ(reader.ReadBits(16), 0x01FFu);
    EXPECT_EQ(reader.ReadBits(16), 0x1180u);
    EXPECT_EQ(reader.ReadBits(8), 0x22u);
    EXPECT_EQ(reader.ReadBits(16), 0u);  // appended zeros read as 0
    EXPECT_EQ(reader.PeekBits(8), 0u);
  }
  // The zeros were consumed, but were never in the source.
  EXPECT_EQ(source.Position(), 5);
}

TEST(BitReader, ReleaseLeavesSourceAfterLastByteWithAnyBitUsed) {
  std::vector<uint8_t> data = Counting(40000);
  TMemoryStream source(data);
  {
    TAbDfInBitStream reader(&source, 0, nullptr);
    reader.ReadBits(9);  // one byte and one bit
    EXPECT_EQ(source.Position(), 16384) << "read ahead one block";
  }
  EXPECT_EQ(source.Position(), 2);
}

TEST(BitReader, ReleaseAfterSeveralBlocksAndFromAnOffset) {
  std::vector<uint8_t> data = Counting(60000);
  TMemoryStream source(data);
  source.SetPosition(100);
  {
    TAbDfInBitStream reader(&source, 0, nullptr);
    for (int i = 0; i < 20000; ++i) reader.ReadBits(8);
    reader.ReadBits(3);
  }
  EXPECT_EQ(source.Position(), 100 + 20001);
}

TEST(BitReader, ReadsAtTheExactEndFailWithTheirCauses) {
  TMemoryStream source(std::vector<uint8_t>{1, 2, 3, 4});
  TAbDfInBitStream reader(&source, 0, nullptr);
  EXPECT_EQ(reader.ReadBits(16), 0x0201u);
  EXPECT_EQ(reader.ReadBits(16), 0x0403u);
  ExpectCause([&] { reader.ReadBits(1); }, cause::kReadBitsNoData);
  ExpectCause([&] { reader.ReadBit(); }, cause::kReadBitNoData);
  // A peek past the end reads zeros; using them fails at the discard.
  EXPECT_EQ(reader.PeekBits(8), 0u);
  ExpectCause([&] { reader.DiscardBits(8); }, cause::kDiscardNoData);
}

TEST(BitReader, ReadBufferFailsWhenTheSourceEnds) {
  TMemoryStream source(Counting(100));
  TAbDfInBitStream reader(&source, 0, nullptr);
  std::vector<uint8_t> out(101);
  ExpectCause([&] { reader.ReadBuffer(out.data(), 101); }, cause::kReadBufferNoData);
}

TEST(BitReader, CountsOutOfRangeAreCauses) {
  TMemoryStream source(Counting(64));
  TAbDfInBitStream reader(&source, 0, nullptr);
  ExpectCause([&] { reader.ReadBits(0); }, cause::kReadBitsCount);
  ExpectCause([&] { reader.ReadBits(17); }, cause::kReadBitsCount);
  reader.PeekBits(32);
  ExpectCause([&] { reader.DiscardBits(0); }, cause::kDiscardCount);
  ExpectCause([&] { reader.DiscardBits(33); }, cause::kDiscardCount);
}

TEST(BitReader, MisuseFailsItsAssertions) {
  ExpectAssertion([] { TAbDfInBitStream reader(nullptr, 0, nullptr); },
                  "TAbDfInBitStream.Create: Cannot create a bit stream wrapping a nil stream "
                  "(AbDfStrm, line 221)");
  TMemoryStream source(Counting(64));
  TAbDfInBitStream reader(&source, 0, nullptr);
  ExpectAssertion([&] { reader.PeekBits(0); },
                  "TAbDfInBitStream.PeekBits: count of bits must be between 1 and 32 inclusive "
                  "(AbDfStrm, line 415)");
  reader.PeekBits(4);
  ExpectAssertion([&] { reader.DiscardBits(5); },
                  "TAbDfInBitStream.DiscardBits: discarding more bits than peeked "
                  "(AbDfStrm, line 284)");
  reader.ReadBits(3);
  uint8_t byte;
  ExpectAssertion([&] { reader.ReadBuffer(&byte, 1); },
                  "TAbDfInBitStream.ReadBuffer. cannot read a buffer unless the stream is "
                  "byte-aligned (AbDfStrm, line 534)");
}

TEST(BitReader, ReadBufferAfterAlignmentCopiesAcrossBlocks) {
  std::vector<uint8_t> data = Counting(50000);
  TMemoryStream source(data);
  {
    TAbDfInBitStream reader(&source, 0, nullptr);
    reader.ReadBits(5);
    reader.AlignToByte();
    std::vector<uint8_t> out(40000);
    reader.ReadBuffer(out.data(), 40000);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), data.begin() + 1));
    // Words count afresh from the odd byte boundary the copy ended on.
    EXPECT_EQ(reader.ReadBits(16), static_cast<uint32_t>(data[40001] | data[40002] << 8));
  }
  EXPECT_EQ(source.Position(), 40003);
}

TEST(BitReader, SourceThatTricklesGivesTheSameBitsAndPosition) {
  std::vector<uint8_t> data = Counting(40000);
  data.resize(39999);
  for (int32_t step : {1, 3, 5, 4096}) {
    inflate_test::TrickleStream trickle(data, step);
    TMemoryStream whole(data);
    {
      TAbDfInBitStream a(&trickle, 0, nullptr), b(&whole, 0, nullptr);
      for (int i = 0; i < 30000; ++i) {
        int n = 1 + i % 13;
        ASSERT_EQ(a.ReadBits(n), b.ReadBits(n)) << "step " << step << " read " << i;
      }
    }
    EXPECT_EQ(trickle.Position(), whole.Position());
  }
}

// A source that lends its memory is read at the same moments, for the same
// counts, as one that copies: the same bits, the same progress, the same
// position given back, wherever the reading stops.
TEST(BitReader, SourceThatLendsItsMemoryIsReadAsOneThatCopies) {
  std::vector<uint8_t> data = Counting(70001);
  for (int32_t step : {1, 3, 700, 16383, 1 << 20}) {
    for (int stop : {1, 9, 300, 5000, 20000}) {
      inflate_test::LendingStream lending(data, step);
      TMemoryStream copying(data);
      std::vector<int32_t> lent_reports, copied_reports;
      {
        TAbDfInBitStream a(&lending, 50000, [&](int32_t p) { lent_reports.push_back(p); });
        TAbDfInBitStream b(&copying, 50000, [&](int32_t p) { copied_reports.push_back(p); });
        for (int i = 0; i < stop; ++i) {
          const int n = 1 + i % 16;
          if (i % 5 == 0) {
            ASSERT_EQ(a.PeekBits(n + 15), b.PeekBits(n + 15)) << step << " at " << i;
            a.DiscardBits(n);
            b.DiscardBits(n);
          } else if (i % 997 == 0) {
            a.AlignToByte();
            b.AlignToByte();
            std::vector<uint8_t> from_a(3000), from_b(3000);
            a.ReadBuffer(from_a.data(), 3000);
            b.ReadBuffer(from_b.data(), 3000);
            ASSERT_TRUE(from_a == from_b) << step << " at " << i;
          } else {
            ASSERT_EQ(a.ReadBits(n), b.ReadBits(n)) << step << " at " << i;
          }
        }
      }
      EXPECT_EQ(lending.Position(), copying.Position()) << step << " stop " << stop;
      EXPECT_EQ(lent_reports, copied_reports) << step << " stop " << stop;
    }
  }
}

TEST(BitReader, ProgressFollowsTheReadAheadRoundedHalfToEven) {
  TMemoryStream source(Counting(70000));
  std::vector<int32_t> reports;
  {
    // 2^18 makes the second block exactly 12.5 percent.
    TAbDfInBitStream reader(&source, 262144, [&](int32_t p) { reports.push_back(p); });
    EXPECT_TRUE(reports.empty()) << "nothing read before the first request";
    for (int i = 0; i < 70000; ++i) reader.ReadBits(8);
  }
  EXPECT_EQ(reports, (std::vector<int32_t>{6, 12, 19, 25, 27}));
}

TEST(BitReader, ProgressCanPassOneHundred) {
  TMemoryStream source(Counting(20000));
  std::vector<int32_t> reports;
  TAbDfInBitStream reader(&source, 1000, [&](int32_t p) { reports.push_back(p); });
  reader.ReadBits(1);
  EXPECT_EQ(reports, (std::vector<int32_t>{1638}));
}

TEST(BitReader, NoProgressWithoutASize) {
  TMemoryStream source(Counting(20000));
  int calls = 0;
  TAbDfInBitStream reader(&source, 0, [&](int32_t) { ++calls; });
  reader.ReadBits(16);
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace velmora
