// Reduce (methods 2 to 5): hand-built byte streams for the escape and the
// edges of the copy, and encoder round trips over every factor's limits and
// every width of follower index.
#include <gtest/gtest.h>

#include "archive/legacy/unreduce.h"
#include "legacy_test_util.h"
#include "tests/support/legacy_encoder_common.h"
#include "tests/support/reduce_encoder.h"

namespace velmora {
namespace {

using legacy_test::ExpandBytes;
using legacy_test::ReduceSettings;
using testing::LzToken;

// Every follower set empty (256 counts of 0), then the bytes as they are.
std::vector<uint8_t> PlainReduceStream(std::initializer_list<uint8_t> bytes) {
  testing::LsbBitWriter out;
  for (int c = 0; c < 256; ++c) out.Write(0, 6);
  for (uint8_t b : bytes) out.Write(b, 8);
  return out.Bytes();
}

TEST(Unreduce, EscapeFollowedByZeroWritesOne144) {
  const auto e = ExpandBytes(PlainReduceStream({'x', 144, 0, 'y'}), ReduceSettings(1, 3));
  EXPECT_EQ(e.output, (std::vector<uint8_t>{'x', 144, 'y'}));
}

TEST(Unreduce, CopyReachingBeforeTheStartGivesZeros) {
  // Factor 1: V = 2 is length 2 + 3 with no high distance bits; the low
  // distance byte 9 makes the distance 10, all of it before the start.
  const auto e = ExpandBytes(PlainReduceStream({144, 2, 9, 'A'}), ReduceSettings(1, 6));
  EXPECT_EQ(e.output, (std::vector<uint8_t>{0, 0, 0, 0, 0, 'A'}));
}

TEST(Unreduce, LengthByteExtendsTheCopyWhenTheLowBitsAreAllOnes) {
  // Factor 4: V = 0x1F is high distance 1, length bits 15 (all ones), so a
  // length byte 5 follows: 15 + 5 + 3 = 23 bytes from 256 + 0 + 1 back.
  std::vector<uint8_t> expected(257, 'q');
  for (int i = 0; i < 23; ++i) expected.push_back('q');
  testing::LsbBitWriter out;
  for (int c = 0; c < 256; ++c) out.Write(0, 6);
  for (int i = 0; i < 257; ++i) out.Write('q', 8);
  for (uint8_t b : {144, 0x1F, 5, 0}) out.Write(b, 8);
  const auto e = ExpandBytes(out.Bytes(), ReduceSettings(4, 280));
  EXPECT_TRUE(e.output == expected);
}

TEST(Unreduce, LongestCopyAndFarthestReachOfEveryFactor) {
  for (int factor = 1; factor <= 4; ++factor) {
    const uint32_t reach = testing::ReduceMaxDistance(factor);
    std::vector<LzToken> tokens;
    for (uint32_t i = 0; i < reach; ++i) tokens.push_back({0, static_cast<uint8_t>(i * 31 + 7), 0});
    tokens.push_back({testing::ReduceMaxLength(factor), 0, reach});
    tokens.push_back({testing::ReduceMaxLength(factor), 0, 1});
    const auto data = testing::ExpandLz(tokens);
    const auto e = ExpandBytes(testing::EncodeReduceTokens(tokens, factor),
                               ReduceSettings(factor, static_cast<int32_t>(data.size())));
    EXPECT_TRUE(e.output == data) << "factor " << factor;
  }
}

TEST(Unreduce, FollowerSetsOfEveryIndexWidthRoundTrip) {
  const auto data = legacy_test::SampleText(20000, 5);
  for (int followers : {0, 1, 2, 3, 4, 5, 8, 9, 16, 17, 31, 32}) {
    const auto e = ExpandBytes(testing::EncodeReduce(data, 2, followers),
                               ReduceSettings(2, static_cast<int32_t>(data.size())));
    EXPECT_TRUE(e.output == data) << followers << " followers";
  }
}

TEST(Unreduce, RefusesAFollowerSetOfMoreThan32) {
  testing::LsbBitWriter out;
  out.Write(33, 6);
  for (int i = 0; i < 40; ++i) out.Write('a', 8);
  try {
    ExpandBytes(out.Bytes(), ReduceSettings(3, 10));
    FAIL() << "a follower set of 33 accepted";
  } catch (const EAbLegacyDataError& e) {
    EXPECT_STREQ(e.what(), "Reduced data gives character 255 a follower set of 33; at most 32 fit");
  }
}

TEST(Unreduce, StopsAtTheUncompressedSize) {
  const auto e = ExpandBytes(PlainReduceStream({'a', 'b', 'c', 'd'}), ReduceSettings(1, 2));
  EXPECT_EQ(e.output, (std::vector<uint8_t>{'a', 'b'}));
}

TEST(Unreduce, RefusesAFactorOutsideOneToFour) {
  TMemoryStream source, output;
  TAbUnzipHelper helper(&source, nullptr, &output);
  EXPECT_THROW(Unreduce(helper, 0), EAbZipInvalidFactor);
  EXPECT_THROW(Unreduce(helper, 5), EAbZipInvalidFactor);
}

}  // namespace
}  // namespace velmora
