// Implode (method 6): the Shannon-Fano tables checked against codes worked
// out by hand, and token streams for the distance bits, the shortest and
// longest copies and the refused trees.
#include <gtest/gtest.h>

#include "archive/legacy/explode.h"
#include "legacy_test_util.h"
#include "tests/support/implode_encoder.h"

namespace velmora {
namespace {

using legacy_test::ExpandBytes;
using legacy_test::ImplodeSettings;
using testing::LzToken;

uint16_t Slot(int bits, int value) { return static_cast<uint16_t>(bits << 8 | value); }

TEST(ShannonFanoTree, CodesFollowTheSortedLengthsFromTheLongestUp) {
  // Lengths 2,2,2,3,3 for the values 0 to 4. From the last entry back the
  // left-aligned codes are 000, 001, 01, 10, 11 for the values 4, 3, 2, 1,
  // 0; the table is indexed by the bits as read, first bit lowest.
  TAbShannonFanoTree tree;
  BuildShannonFanoTree({2, 2, 2, 3, 3}, tree);
  ASSERT_EQ(tree.max_bits, 3);
  ASSERT_EQ(tree.table.size(), 8u);
  EXPECT_EQ(tree.table[0b000], Slot(3, 4));
  EXPECT_EQ(tree.table[0b100], Slot(3, 3));
  EXPECT_EQ(tree.table[0b010], Slot(2, 2));
  EXPECT_EQ(tree.table[0b110], Slot(2, 2));
  EXPECT_EQ(tree.table[0b001], Slot(2, 1));
  EXPECT_EQ(tree.table[0b011], Slot(2, 0));
  EXPECT_EQ(tree.table[0b111], Slot(2, 0));
}

TEST(ShannonFanoTree, CodesThatMatchNoEntryDecodeAsZeroAfterTheLongestLength) {
  // Lengths 1,2,2,2 over-fill the code space: value 0 gets the code 11
  // with one bit, which no single bit can equal, and the bits 1,1 match
  // nothing.
  TAbShannonFanoTree tree;
  BuildShannonFanoTree({1, 2, 2, 2}, tree);
  ASSERT_EQ(tree.max_bits, 2);
  EXPECT_EQ(tree.table[0b00], Slot(2, 3));
  EXPECT_EQ(tree.table[0b10], Slot(2, 2));
  EXPECT_EQ(tree.table[0b01], Slot(2, 1));
  EXPECT_EQ(tree.table[0b11], Slot(2, 0));
}

TEST(ShannonFanoTree, ValuesTheStreamDidNotDefineNeverMatch) {
  TAbShannonFanoTree tree;
  BuildShannonFanoTree({1, 1, 0, 0}, tree);
  EXPECT_EQ(tree.table[0], Slot(1, 1));
  EXPECT_EQ(tree.table[1], Slot(1, 0));
}

std::vector<LzToken> Literals(const std::string& text) {
  std::vector<LzToken> tokens;
  for (char c : text) tokens.push_back({0, static_cast<uint8_t>(c), 0});
  return tokens;
}

legacy_test::Expansion RoundTrip(const std::vector<LzToken>& tokens, bool dictionary_8k,
                                 bool three_trees, bool decode_8k) {
  const auto data = testing::ExpandLz(tokens);
  return ExpandBytes(testing::EncodeImplodeTokens(tokens, {dictionary_8k, three_trees}),
                     ImplodeSettings(decode_8k, three_trees, static_cast<int32_t>(data.size())));
}

TEST(Explode, ReadsSixLowDistanceBitsWith4KAndSevenWith8K) {
  // A copy from 100 back: distance code 99 is 1:35 with six low bits and
  // 0:99 with seven, so reading it with the other dictionary goes astray.
  std::vector<LzToken> tokens = Literals(std::string(120, 'x'));
  for (int i = 0; i < 120; ++i) tokens[i].literal = static_cast<uint8_t>('A' + i % 50);
  tokens.push_back({20, 0, 100});
  const auto data = testing::ExpandLz(tokens);
  for (bool three_trees : {false, true}) {
    EXPECT_TRUE(RoundTrip(tokens, false, three_trees, false).output == data);
    EXPECT_TRUE(RoundTrip(tokens, true, three_trees, true).output == data);
    EXPECT_FALSE(RoundTrip(tokens, false, three_trees, true).output == data);
    EXPECT_FALSE(RoundTrip(tokens, true, three_trees, false).output == data);
  }
}

TEST(Explode, ShortestCopyIsTwoWithTwoTreesAndThreeWithThree) {
  auto tokens = Literals("abcd");
  tokens.push_back({2, 0, 4});  // "ab"
  auto e = RoundTrip(tokens, true, false, true);
  EXPECT_EQ(std::string(e.output.begin(), e.output.end()), "abcdab");
  tokens.back().length = 3;  // "abc"
  e = RoundTrip(tokens, true, true, true);
  EXPECT_EQ(std::string(e.output.begin(), e.output.end()), "abcdabc");
}

TEST(Explode, LongestCopyIs63Plus255PlusTheShortest) {
  for (bool three_trees : {false, true}) {
    const uint32_t longest = three_trees ? 321 : 320;
    auto tokens = Literals("z");
    tokens.push_back({longest, 0, 1});
    tokens.push_back({0, '!', 0});
    const auto e = RoundTrip(tokens, false, three_trees, false);
    ASSERT_EQ(e.output.size(), longest + 2);
    EXPECT_EQ(std::count(e.output.begin(), e.output.end(), 'z'), longest + 1);
  }
}

TEST(Explode, CopyReachingBeforeTheStartGivesZeros) {
  std::vector<LzToken> tokens = {{5, 0, 3}, {0, 'k', 0}, {4, 0, 8000}};
  const auto e = RoundTrip(tokens, true, true, true);
  EXPECT_EQ(e.output, (std::vector<uint8_t>{0, 0, 0, 0, 0, 'k', 0, 0, 0, 0}));
}

TEST(Explode, FarthestReachOfEachDictionary) {
  for (bool dictionary_8k : {false, true}) {
    const uint32_t reach = dictionary_8k ? 8192 : 4096;
    std::vector<LzToken> tokens;
    for (uint32_t i = 0; i < reach; ++i) tokens.push_back({0, static_cast<uint8_t>(i * 13 + i / 256), 0});
    tokens.push_back({100, 0, reach});
    const auto data = testing::ExpandLz(tokens);
    EXPECT_TRUE(RoundTrip(tokens, dictionary_8k, true, dictionary_8k).output == data);
  }
}

TEST(Explode, RefusesATreeWhoseGroupsDefineMoreEntriesThanItHolds) {
  // Two trees: the length tree (64 entries) comes first. Five groups of 16
  // entries of 4 bits each would be 80.
  testing::LsbBitWriter out;
  out.Write(4, 8);
  for (int g = 0; g < 5; ++g) out.Write(0xF3, 8);
  try {
    ExpandBytes(out.Bytes(), ImplodeSettings(false, false, 100));
    FAIL() << "an 80-entry tree accepted";
  } catch (const EAbLegacyDataError& e) {
    EXPECT_STREQ(e.what(), "Imploded data defines 80 entries for a tree of 64");
  }
}

TEST(Explode, RefusesALiteralTreeOf257Entries) {
  testing::LsbBitWriter out;
  out.Write(16, 8);  // 17 groups of 16 entries
  for (int g = 0; g < 17; ++g) out.Write(0xF7, 8);
  EXPECT_THROW(ExpandBytes(out.Bytes(), ImplodeSettings(true, true, 100)), EAbLegacyDataError);
}

TEST(Explode, TruncatedDataEndsTheOutputEarly) {
  const auto data = legacy_test::SampleText(30000, 9);
  auto packed = testing::EncodeImplode(data, {true, true});
  packed.resize(packed.size() * 2 / 3);
  const auto e = ExpandBytes(packed, ImplodeSettings(true, true, 30000));
  EXPECT_LT(e.output.size(), data.size());
  EXPECT_NE(e.crc, legacy_test::CrcOf(data));
}

}  // namespace
}  // namespace velmora
