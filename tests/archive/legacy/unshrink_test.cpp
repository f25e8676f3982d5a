// Shrink (method 1): hand-built code streams for the control sequences and
// the damaged-table cases, and encoder round trips with the controls placed
// by the test.
#include <gtest/gtest.h>

#include "legacy_test_util.h"
#include "tests/support/legacy_encoder_common.h"
#include "tests/support/shrink_encoder.h"

namespace velmora {
namespace {

using legacy_test::Bytes;
using legacy_test::ExpandBytes;
using legacy_test::ShrinkSettings;

// Codes of the given widths, packed lowest bit first.
std::vector<uint8_t> Codes(std::initializer_list<std::pair<uint32_t, int>> codes) {
  testing::LsbBitWriter out;
  for (auto [code, bits] : codes) out.Write(code, bits);
  return out.Bytes();
}

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(Unshrink, ControlOneSwitchesToTenBitCodesAtThatPoint) {
  const auto packed = Codes({{'A', 9}, {256, 9}, {1, 9},  // 256,1: codes are 10 bits from here
                             {'B', 10},                   // defines 257 = "AB"
                             {257, 10}});                 // "AB"
  EXPECT_EQ(Text(ExpandBytes(packed, ShrinkSettings(4)).output), "ABAB");
}

TEST(Unshrink, ControlTwoFreesTheLeafCodesAndReusesTheLowestFirst) {
  const auto packed = Codes({{'a', 9}, {'b', 9},  // 257 = ab
                             {'c', 9},            // 258 = bc
                             {257, 9},            // "ab", 259 = ca
                             {259, 9},            // "ca", 260 = abc (257 now has a child)
                             {'d', 9},            // 261 = cad (259 now has a child)
                             {256, 9}, {2, 9},    // frees the leaves 258, 260, 261
                             {257, 9},            // "ab", 258 = da: the lowest freed code
                             {258, 9},            // "da", 260 = abd
                             {259, 9},            // "ca" survived, 261 = dac
                             {260, 9}, {261, 9}});
  EXPECT_EQ(Text(ExpandBytes(packed, ShrinkSettings(20)).output), "abcabcadabdacaabddac");
}

TEST(Unshrink, RoundTripsWithEarlyWideningAndEarlyPartialClears) {
  const auto data = legacy_test::SampleText(60000, 3);
  testing::ShrinkEncoderOptions options;
  options.widen_at = {1, 5, 700};
  options.partial_clear_at = {100, 5000, 41000};
  const auto e = ExpandBytes(testing::EncodeShrink(data, options),
                             ShrinkSettings(static_cast<int32_t>(data.size())));
  EXPECT_TRUE(e.output == data);
  EXPECT_EQ(e.crc, legacy_test::CrcOf(data));
}

TEST(Unshrink, RefusesCodesWiderThanThirteenBits) {
  const auto packed = Codes({{'a', 9}, {256, 9}, {1, 9}, {256, 10}, {1, 10}, {256, 11}, {1, 11},
                             {256, 12}, {1, 12}, {256, 13}, {1, 13}, {'b', 14}});
  try {
    ExpandBytes(packed, ShrinkSettings(2));
    FAIL() << "14-bit codes accepted";
  } catch (const EAbLegacyDataError& e) {
    EXPECT_STREQ(e.what(), "Shrunk data asks for 14-bit codes; at most 13 bits fit");
  }
}

TEST(Unshrink, RefusesAStringThatLeadsBackToItself) {
  // 300 is free and is also the previous code: its string would be itself
  // plus a character, for ever.
  const auto packed = Codes({{300, 9}, {300, 9}});
  EXPECT_THROW(ExpandBytes(packed, ShrinkSettings(2)), EAbLegacyDataError);
}

TEST(Unshrink, StopsQuietlyWhereTheCompressedDataEnds) {
  const auto data = legacy_test::SampleText(5000);
  auto packed = testing::EncodeShrink(data);
  packed.resize(packed.size() / 2);
  const auto e = ExpandBytes(packed, ShrinkSettings(5000));
  EXPECT_LT(e.output.size(), data.size());
  EXPECT_TRUE(std::equal(e.output.begin(), e.output.end(), data.begin()));
  EXPECT_EQ(e.crc, legacy_test::CrcOf(e.output));
}

TEST(Unshrink, EmptyDataGivesNoOutputAndTheCrcOfNothing) {
  const auto e = ExpandBytes({}, ShrinkSettings(0));
  EXPECT_TRUE(e.output.empty());
  EXPECT_EQ(e.crc, 0u);
}

}  // namespace
}  // namespace velmora
