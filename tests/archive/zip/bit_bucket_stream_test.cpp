#include "archive/zip/bit_bucket_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <vector>

#include "archive/base/exceptions.h"

namespace velmora {
namespace {

std::vector<uint8_t> Counting(size_t n, uint8_t start = 0) {
  std::vector<uint8_t> v(n);
  std::iota(v.begin(), v.end(), start);
  return v;
}

TEST(TAbBitBucketStream, RingIsTheRequestedSizePlusOneKilobyte) {
  EXPECT_EQ(TAbBitBucketStream().RingSize(), 33792);
  EXPECT_EQ(TAbBitBucketStream(4096).RingSize(), 5120);
  EXPECT_EQ(TAbBitBucketStream(8192).RingSize(), 9216);
  EXPECT_EQ(TAbBitBucketStream(1000).RingSize(), 33792);
}

TEST(TAbBitBucketStream, ReadsBackTheMostRecentBytesAcrossTheWrap) {
  TAbBitBucketStream s(4096);
  for (int i = 0; i < 7; ++i) s.Write(Counting(1000, static_cast<uint8_t>(i)).data(), 1000);
  EXPECT_EQ(s.Size(), 7000);
  EXPECT_EQ(s.Position(), 7000);
  s.Seek(-5120, soFromEnd);
  std::vector<uint8_t> back(5120);
  EXPECT_EQ(s.Read(back.data(), 5120), 5120);
  // The last 5120 bytes: the tail of write 1 (from offset 880) onwards.
  EXPECT_EQ(back[0], static_cast<uint8_t>(1 + 880));
  EXPECT_EQ(back[5119], static_cast<uint8_t>(6 + 999));
  EXPECT_EQ(s.Position(), 7000);
}

TEST(TAbBitBucketStream, WriteAppendsAtTheEndWhateverThePosition) {
  TAbBitBucketStream s(4096);
  s.Write(Counting(100).data(), 100);
  s.Seek(10, soFromBeginning);
  s.Write(Counting(5, 200).data(), 5);
  EXPECT_EQ(s.Size(), 105);
  EXPECT_EQ(s.Position(), 105);
  s.Seek(-5, soFromCurrent);
  uint8_t b[5];
  s.Read(b, 5);
  EXPECT_EQ(b[0], 200);
}

TEST(TAbBitBucketStream, RefusesWhatTheRingCannotHold) {
  TAbBitBucketStream s(4096);
  std::vector<uint8_t> big(5121);
  try {
    s.Write(big.data(), 5121);
    FAIL();
  } catch (const EAbBBSWriteTooManyBytes& e) {
    EXPECT_EQ(e.Message(), "BBS: request to write too many bytes [5121]");
  }
  s.Write(big.data(), 5120);
  EXPECT_THROW(s.Seek(-5121, soFromEnd), EAbBBSSeekOutsideBuffer);
  EXPECT_THROW(s.Seek(1, soFromEnd), EAbBBSSeekOutsideBuffer);
  EXPECT_THROW(s.Seek(0, 3), EAbBBSInvalidOrigin);
  s.Seek(-10, soFromEnd);
  try {
    s.Read(big.data(), 11);
    FAIL();
  } catch (const EAbBBSReadTooManyBytes& e) {
    EXPECT_EQ(e.Message(), "BBS: request to read too many bytes [11]");
  }
}

TEST(TAbBitBucketStream, LargeWriteKeepsWhatRingSizedPiecesWouldKeep) {
  // 3 rings and a bit, from an unaligned tail: the skipped part must wrap
  // the tail exactly as the pieces would have.
  const std::vector<uint8_t> data = Counting(3 * 5120 + 777, 7);
  TAbBitBucketStream pieces(4096), whole(4096);
  pieces.Write(data.data(), 300);
  whole.Write(data.data(), 300);
  for (size_t at = 0; at < data.size(); at += 5120) {
    pieces.Write(data.data() + at, static_cast<int32_t>(std::min<size_t>(5120, data.size() - at)));
  }
  whole.WriteKeepingRecent(data.data(), static_cast<int64_t>(data.size()));
  EXPECT_EQ(whole.Size(), pieces.Size());
  EXPECT_EQ(whole.Position(), pieces.Position());
  std::vector<uint8_t> from_pieces(5120), from_whole(5120);
  pieces.Seek(-5120, soFromEnd);
  whole.Seek(-5120, soFromEnd);
  pieces.Read(from_pieces.data(), 5120);
  whole.Read(from_whole.data(), 5120);
  EXPECT_EQ(from_whole, from_pieces);
}

}  // namespace
}  // namespace velmora
