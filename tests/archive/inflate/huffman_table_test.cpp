#include "archive/inflate/huffman_table.h"

#include <gtest/gtest.h>

#include "archive/inflate/fast_huffman.h"
#include "archive/inflate/inflate_tables.h"
#include "tests/archive/inflate/inflate_test_support.h"

namespace velmora {
namespace {

uint32_t SymbolOf(uint32_t entry) { return entry & 0xFFFF; }
uint32_t LengthOf(uint32_t entry) { return (entry >> 16) & 0xFF; }
uint32_t ExtraOf(uint32_t entry) { return entry >> 24; }

TEST(HuffmanTable, BuildsTheCanonicalExampleOfRfc1951) {
  // Lengths 2, 1, 3, 3 give the codes 10, 0, 110, 111.
  const int32_t lengths[] = {2, 1, 3, 3};
  TAbDfDecodeHuffmanTree tree(4, huDecoding, 15);
  tree.Build(lengths, 0, 4, 4, nullptr);
  EXPECT_EQ(tree.LookupBitLength(), 3);
  const uint32_t symbols[] = {1, 0, 1, 2, 1, 0, 1, 3};
  const uint32_t code_lengths[] = {1, 2, 1, 3, 1, 2, 1, 3};
  for (uint32_t i = 0; i < 8; ++i) {
    EXPECT_EQ(SymbolOf(tree.Decode(i)), symbols[i]) << "index " << i;
    EXPECT_EQ(LengthOf(tree.Decode(i)), code_lengths[i]) << "index " << i;
    EXPECT_EQ(ExtraOf(tree.Decode(i)), 0u);
  }
}

TEST(HuffmanTable, StartsAtTheFirstIndexAndAddsExtraBits) {
  const int32_t lengths[] = {9, 9, 1, 1};
  const uint8_t extra[] = {7, 4};
  TAbDfDecodeHuffmanTree tree(2, huDecoding, 15);
  tree.Build(lengths, 2, 2, 1, extra);
  EXPECT_EQ(tree.LookupBitLength(), 1);
  EXPECT_EQ(tree.Decode(0), 0u | (1u << 16));
  EXPECT_EQ(tree.Decode(1), 1u | (1u << 16) | (7u << 24));
}

TEST(HuffmanTable, UnusedCodeSpaceLeavesEmptyEntries) {
  const int32_t lengths[] = {1, 0, 2};  // codes 0 and 10; 11 unused
  TAbDfDecodeHuffmanTree tree(3, huDecoding, 15);
  tree.Build(lengths, 0, 3, 3, nullptr);
  EXPECT_EQ(tree.Decode(3), kEmptyHuffmanEntry);
  EXPECT_EQ(SymbolOf(tree.Decode(3)), 65535u);
}

TEST(HuffmanTable, AllLengthsZeroGiveOneEmptyEntry) {
  const int32_t lengths[19] = {};
  TAbDfDecodeHuffmanTree tree(19, huDecoding, 7);
  tree.Build(lengths, 0, 19, 19, nullptr);
  EXPECT_EQ(tree.LookupBitLength(), 0);
  EXPECT_EQ(tree.TableSize(), 1u);
  EXPECT_EQ(tree.Decode(0), kEmptyHuffmanEntry);
}

TEST(HuffmanTable, OverSubscribedLengthsLetLaterSymbolsWin) {
  const int32_t lengths[] = {1, 1, 1};  // the third code wraps onto the first
  TAbDfDecodeHuffmanTree tree(3, huDecoding, 15);
  tree.Build(lengths, 0, 3, 3, nullptr);
  EXPECT_EQ(SymbolOf(tree.Decode(0)), 2u);
  EXPECT_EQ(SymbolOf(tree.Decode(1)), 1u);
  FastHuffmanTable fast;
  EXPECT_FALSE(BuildFastTable(fast, lengths, 3, FastTableKind::kDistance, false))
      << "the decoder rejects such codes";
}

TEST(HuffmanTable, FixedLiteralTableHas512EntriesAndItsKnownCodes) {
  const TAbDfDecodeHuffmanTree& tree = AbFixedLiteralTree();
  EXPECT_EQ(tree.LookupBitLength(), 9);
  EXPECT_EQ(tree.TableSize(), 512u);
  // Symbol 256 is seven zero bits; symbol 0 is 00110000, read reversed.
  EXPECT_EQ(SymbolOf(tree.Decode(0)), 256u);
  EXPECT_EQ(LengthOf(tree.Decode(0)), 7u);
  EXPECT_EQ(SymbolOf(tree.Decode(0x0C)), 0u);
  EXPECT_EQ(LengthOf(tree.Decode(0x0C)), 8u);
  // Symbol 285 (11000101) carries the Deflate64 count of 16 extra bits.
  EXPECT_EQ(SymbolOf(tree.Decode(0xA3)), 285u);
  EXPECT_EQ(ExtraOf(tree.Decode(0xA3)), 16u);
  const TAbDfDecodeHuffmanTree& distances = AbFixedDistanceTree();
  EXPECT_EQ(distances.TableSize(), 32u);
  EXPECT_EQ(SymbolOf(distances.Decode(0x1F)), 31u);
  EXPECT_EQ(ExtraOf(distances.Decode(0x1F)), 14u);
}

TEST(HuffmanTable, FastTableAgreesWithTheSingleLevelTable) {
  // A complete code with lengths up to 15, decoded both ways for every
  // 15-bit pattern.
  int32_t lengths[286] = {};
  for (int i = 0; i < 286; ++i) lengths[i] = 0;
  int32_t count = 0;
  for (int length = 1; length <= 14; ++length) lengths[count++] = length;
  lengths[count++] = 15;
  lengths[count++] = 15;
  TAbDfDecodeHuffmanTree tree(count, huDecoding, 15);
  tree.Build(lengths, 0, count, 257, kLengthExtraBits.data());
  FastHuffmanTable fast;
  ASSERT_TRUE(BuildFastTable(fast, lengths, count, FastTableKind::kLiteralLength, true));
  EXPECT_EQ(fast.max_length, tree.LookupBitLength());
  for (uint32_t bits = 0; bits < (1u << 15); ++bits) {
    uint32_t e = tree.Decode(bits);
    uint32_t f = fast.Lookup(bits);
    ASSERT_NE(f & fast_entry::kLiteral, 0u) << bits;  // literals only here
    ASSERT_EQ(fast_entry::TotalBits(f), LengthOf(e)) << bits;
    ASSERT_EQ(fast_entry::LiteralOf(f), SymbolOf(e)) << bits;
  }
}

// What a BEXTR with the entry's low 16 bits as its control cuts from bits.
uint64_t CutByControl(uint64_t bits, uint32_t entry) {
  const uint32_t start = entry & 0xFF, count = (entry >> 8) & 0xFF;
  return start >= 64 ? 0 : (bits >> start) & ((uint64_t{1} << count) - 1);
}

TEST(HuffmanTable, FastLiteralAndLengthEntriesGiveTheirValueAndCutTheNextIndex) {
  // Every literal/length symbol in a complete code of 7 to 12 bits (31 of
  // 7, 148 of 8, 88 of 9, 1 of 10, 10 of 11, 8 of 12: the last lengths sit
  // in subtables), decoded both ways for random patterns long enough for
  // the longest code, 16 extra bits and the index that follows.
  int32_t lengths[286];
  for (int32_t i = 0; i < 286; ++i)
    lengths[i] = i < 31 ? 7 : i < 179 ? 8 : i < 267 ? 9 : i < 268 ? 10 : i < 278 ? 11 : 12;
  for (bool deflate64 : {false, true}) {
    SCOPED_TRACE(deflate64 ? "Deflate64" : "Deflate");
    TAbDfDecodeHuffmanTree tree(286, huDecoding, 15);
    tree.Build(lengths, 0, 286, 257, kLengthExtraBits.data());
    FastHuffmanTable fast;
    ASSERT_TRUE(BuildFastTable(fast, lengths, 286, FastTableKind::kLiteralLength, deflate64));
    uint64_t pattern = 0x9E3779B97F4A7C15ull;
    for (int trial = 0; trial < 20000; ++trial) {
      pattern = pattern * 6364136223846793005ull + 1442695040888963407ull;
      const uint32_t e = fast.Lookup(pattern);
      const uint32_t single = tree.Decode(static_cast<uint32_t>(pattern) & 0xFFF);
      const uint32_t symbol = SymbolOf(single);
      // Symbol 285 is a plain 258 in Deflate.
      const uint32_t extra_bits = symbol == 285 && !deflate64 ? 0 : ExtraOf(single);
      const uint32_t after = LengthOf(single) + extra_bits;
      ASSERT_EQ(fast_entry::TotalBits(e), after) << symbol;
      if (symbol < 256) {
        ASSERT_EQ(fast_entry::LiteralOf(e), symbol);
        ASSERT_EQ(CutByControl(pattern, e), (pattern >> after) & 0x7FF) << symbol;
      } else if (symbol > 256) {
        const uint64_t extra = (pattern >> LengthOf(single)) & ((1u << extra_bits) - 1);
        const uint32_t base = symbol == 285 && !deflate64 ? 258 : kLengthBase[symbol - 257];
        ASSERT_EQ(fast_entry::LengthValue(pattern, e), base + extra) << symbol;
        ASSERT_EQ(CutByControl(pattern, e), (pattern >> after) & 0xFF) << symbol;
      }
    }
  }
}

TEST(HuffmanTable, FastTableLeavesUnusedCodeSpaceInvalidWhereTheSingleLevelTableIsEmpty) {
  // An incomplete code with short and long codes: 0, 10, 1100 and two of
  // 13 bits; every other pattern reaches no code.
  int32_t lengths[256] = {};
  lengths[97] = 1;  // a
  lengths[98] = 2;  // b
  lengths[99] = 4;  // c
  lengths[100] = 13;
  lengths[101] = 13;
  TAbDfDecodeHuffmanTree tree(256, huDecoding, 15);
  tree.Build(lengths, 0, 256, 256, nullptr);
  FastHuffmanTable fast;
  ASSERT_TRUE(BuildFastTable(fast, lengths, 256, FastTableKind::kLiteralLength, false));
  int empty = 0;
  for (uint32_t bits = 0; bits < (1u << 13); ++bits) {
    const uint32_t e = tree.Decode(bits);
    const uint32_t f = fast.Lookup(bits);
    if (e == kEmptyHuffmanEntry) {
      ASSERT_EQ(f, fast_entry::kInvalid) << bits;
      ++empty;
      continue;
    }
    ASSERT_EQ(fast_entry::TotalBits(f), LengthOf(e)) << bits;
    ASSERT_EQ(fast_entry::LiteralOf(f), SymbolOf(e)) << bits;
  }
  EXPECT_GT(empty, 0);
}

TEST(HuffmanTable, MisuseFailsItsAssertions) {
  inflate_test::ExpectAssertion(
      [] { TAbDfDecodeHuffmanTree tree(1, huDecoding, 15); },
      "TAbDfDecodeHuffmanTree.Create: a huffman tree must be for at least two symbols "
      "(AbDfHufD, line 173)");
  const int32_t lengths[] = {8, 1};
  TAbDfDecodeHuffmanTree tree(2, huDecoding, 7);
  inflate_test::ExpectAssertion(
      [&] { tree.Build(lengths, 0, 2, 2, nullptr); },
      "TAbDfDecodeHuffmanTree.Build: a code length is greater than 7 (AbDfHufD, line 253)");
  tree.Build(lengths, 1, 1, 2, nullptr);
  inflate_test::ExpectAssertion(
      [&] { tree.Decode(2); },
      "TAbDfDecodeHuffmanTree.Decode: trying to decode too many bits, use LookupBitLength "
      "property (AbDfHufD, line 445)");
}

}  // namespace
}  // namespace velmora
