// Hand-built streams for every edge and every cause of the decoder.
#include "archive/inflate/inflate.h"

#include <gtest/gtest.h>

#include "archive/base/exceptions.h"
#include "tests/archive/inflate/inflate_test_support.h"
#include "tests/support/deflate_bit_writer.h"

namespace velmora {
namespace {

using test::DeflateBitWriter;
namespace cause = inflate_cause;

struct Decoded {
  uint32_t checksum = 0;
  std::vector<uint8_t> output;
  int32_t packed = -1, unpacked = -1;
  int64_t source_position = -1;
};

Decoded Decode(const std::vector<uint8_t>& stream, uint32_t options = kDefaultDeflateOptions,
               int32_t limit = 0) {
  TMemoryStream source(stream), dest;
  TAbDeflateHelper helper;
  helper.Options = options;
  helper.OutputLimit = limit;
  Decoded d;
  d.checksum = Inflate(&source, &dest, &helper);
  d.output = dest.Data();
  d.packed = helper.PackedSize;
  d.unpacked = helper.UnpackedSize;
  d.source_position = source.Position();
  return d;
}

// Expects the inflate error that wraps exactly cause.
void ExpectInflateError(const std::vector<uint8_t>& stream, const std::string& cause_text,
                        uint32_t options = kDefaultDeflateOptions) {
  try {
    Decode(stream, options);
    ADD_FAILURE() << "no error; expected " << cause_text;
  } catch (const EAbInflateError& e) {
    EXPECT_EQ(e.Message(), "Inflate error, possibly a corrupted compressed stream. (Internal cause: " +
                               cause_text + ")");
  }
}

std::vector<uint8_t> Text(const std::string& s) { return {s.begin(), s.end()}; }

// A stored block of data (at most 65,535 bytes).
void StoredBlock(DeflateBitWriter& w, bool final, const std::vector<uint8_t>& data) {
  w.Bits(final, 1).Bits(0, 2).AlignToByte();       // BFINAL, BTYPE 00
  w.Bits(static_cast<uint32_t>(data.size()), 16);  // LEN
  w.Bits(~static_cast<uint32_t>(data.size()) & 0xFFFF, 16);  // NLEN
  for (uint8_t b : data) w.Byte(b);
}

TEST(Inflate, EmptyStoredFinalBlockGivesTheChecksumsOfNothing) {
  DeflateBitWriter w;
  StoredBlock(w, true, {});
  Decoded crc = Decode(w.Finish());
  EXPECT_TRUE(crc.output.empty());
  EXPECT_EQ(crc.checksum, 0u);
  EXPECT_EQ(crc.packed, 5);
  EXPECT_EQ(Decode(w.Finish(), dfoAdler32).checksum, 1u);
}

TEST(Inflate, FixedBlockHoldingOnlyTheEndOfBlockIsAnEmptyStream) {
  // BFINAL 1, BTYPE 01, symbol 256 = seven zero bits: 0x03 0x00.
  Decoded d = Decode({0x03, 0x00});
  EXPECT_TRUE(d.output.empty());
  EXPECT_EQ(d.checksum, 0u);
  EXPECT_EQ(d.packed, 2);
  EXPECT_EQ(d.unpacked, 0);
}

TEST(Inflate, SingleLiteralWithBothChecksumsAndPartlyUsedLastByte) {
  // BFINAL 1, BTYPE 01, literal 0x61 (8 bits), symbol 256 (7 bits).
  const std::vector<uint8_t> stream = {0x4B, 0x04, 0x00, 0x77, 0x88};  // two bytes after it
  Decoded d = Decode(stream);
  EXPECT_EQ(d.output, Text("a"));
  EXPECT_EQ(d.checksum, 0xE8B7BE43u);
  EXPECT_EQ(d.packed, 3);
  EXPECT_EQ(d.unpacked, 1);
  EXPECT_EQ(d.source_position, 3);
  EXPECT_EQ(Decode(stream, dfoAdler32).checksum, 0x00620062u);
}

TEST(Inflate, OverlappingMatchRepeatsItsSource) {
  DeflateBitWriter w;
  w.Bits(1, 1).Bits(1, 2);               // BFINAL 1, BTYPE 01 (fixed)
  w.FixedSymbol('x');                    // literal
  w.FixedSymbol(285).FixedDistance(0);   // length 258, distance 1
  w.FixedSymbol(256);                    // end of block
  EXPECT_EQ(Decode(w.Finish()).output, std::vector<uint8_t>(259, 'x'));
}

TEST(Inflate, Symbol285InDeflateReadsNoExtraBits) {
  DeflateBitWriter w;
  w.Bits(1, 1).Bits(1, 2);
  w.FixedSymbol('a').FixedSymbol(285).FixedDistance(0);  // 258 more 'a'
  w.FixedSymbol('b').FixedSymbol(256);  // would be garbled had 16 bits been taken
  std::vector<uint8_t> expected(259, 'a');
  expected.push_back('b');
  EXPECT_EQ(Decode(w.Finish()).output, expected);
}

TEST(Inflate, Deflate64Symbol285ReadsSixteenExtraBitsAcrossSlides) {
  DeflateBitWriter w;
  w.Bits(1, 1).Bits(1, 2);
  w.FixedSymbol('a').FixedSymbol('b');
  const int kMatches = 20;  // 1.3 MB, more than the window passes on at once
  for (int i = 0; i < kMatches; ++i) {
    w.FixedSymbol(285).Bits(65535, 16);  // length 3 + 65535 = 65538
    w.FixedDistance(1);                  // distance 2
  }
  w.FixedSymbol(256);
  Decoded d = Decode(w.Finish(), kDefaultDeflateOptions | dfoDeflate64);
  ASSERT_EQ(d.output.size(), 2u + kMatches * 65538u);
  for (size_t i = 0; i < d.output.size(); ++i) ASSERT_EQ(d.output[i], i % 2 ? 'b' : 'a') << i;
  EXPECT_EQ(d.checksum, test::ZlibCrc32(d.output));
}

// 70,000 bytes of history in two stored blocks, then a fixed final block.
DeflateBitWriter HistoryThenFixedBlock(std::vector<uint8_t>& history) {
  history.resize(70000);
  for (size_t i = 0; i < history.size(); ++i) history[i] = static_cast<uint8_t>(i * 7 + i / 251);
  DeflateBitWriter w;
  StoredBlock(w, false, {history.begin(), history.begin() + 40000});
  StoredBlock(w, false, {history.begin() + 40000, history.end()});
  w.Bits(1, 1).Bits(1, 2);
  return w;
}

TEST(Inflate, DistanceSymbols30And31AreDeflate64Only) {
  std::vector<uint8_t> history;
  DeflateBitWriter w = HistoryThenFixedBlock(history);
  w.FixedSymbol(257).FixedDistance(30).Bits(0, 14);      // length 3, distance 32,769
  w.FixedSymbol(257).FixedDistance(31).Bits(16383, 14);  // length 3, distance 65,536
  w.FixedSymbol(256);
  Decoded d = Decode(w.Finish(), kDefaultDeflateOptions | dfoDeflate64);
  std::vector<uint8_t> expected = history;
  for (int i = 0; i < 3; ++i) expected.push_back(expected[expected.size() - 32769]);
  for (int i = 0; i < 3; ++i) expected.push_back(expected[expected.size() - 65536]);
  EXPECT_EQ(d.output, expected);

  ExpectInflateError(w.Finish(), cause::kDistanceSymbol);
}

TEST(Inflate, DynamicBlockCountLimits) {
  for (uint32_t hlit : {30u, 31u}) {  // 287 and 288 literal codes
    DeflateBitWriter w;
    w.Bits(1, 1).Bits(2, 2).Bits(hlit, 5).Bits(0, 5).Bits(0, 4);
    ExpectInflateError(w.Finish(), cause::kLiteralCount);
  }
  for (int hdist : {31, 32}) {
    std::vector<int> literals(257, 0), distances(static_cast<size_t>(hdist), 5);
    literals['a'] = 1;
    literals[256] = 1;
    DeflateBitWriter w;
    w.Bits(1, 1).Bits(2, 2);
    test::WriteDynamicHeader(w, literals, distances);
    w.Code(0, 1).Code(1, 1);  // 'a', end of block
    ExpectInflateError(w.Finish(), cause::kDistanceCount);
    EXPECT_EQ(Decode(w.Finish(), kDefaultDeflateOptions | dfoDeflate64).output, Text("a"));
  }
}

TEST(Inflate, RepeatRunningPastTheCountIsCut) {
  DeflateBitWriter w;
  w.Bits(1, 1).Bits(2, 2);
  w.Bits(0, 5).Bits(0, 5).Bits(15, 4);  // HLIT 257, HDIST 1, HCLEN 19
  for (int i = 0; i < 19; ++i) w.Bits(5, 3);  // code-length codes: symbol s is code s
  w.Code(18, 5).Bits(97 - 11, 7);   // 97 zeros
  w.Code(1, 5);                     // 'a' has length 1
  w.Code(18, 5).Bits(138 - 11, 7);  // 138 zeros: symbols 98 ... 235
  w.Code(18, 5).Bits(20 - 11, 7);   // 20 zeros: 236 ... 255
  w.Code(1, 5);                     // end of block has length 1
  w.Code(18, 5).Bits(138 - 11, 7);  // 138 zeros, cut to the one distance length
  w.Code(0, 1).Code(1, 1);          // 'a', end of block
  EXPECT_EQ(Decode(w.Finish()).output, Text("a"));
}

TEST(Inflate, CodeLengthRepeatsDecodeAlikeWhereverTheyFallAndHoweverMuchInputFollows) {
  // 0 ... 20 plain lengths before the first repeat put the repeats on every
  // place a refill of the bit buffer covers; the stream ends just after or
  // has more input behind it.
  for (int plain = 0; plain <= 20; ++plain) {
    DeflateBitWriter w;
    w.Bits(1, 1).Bits(2, 2).Bits(0, 5).Bits(0, 5).Bits(15, 4);  // HLIT 257, HDIST 1, HCLEN 19
    for (int i = 0; i < 19; ++i) w.Bits(5, 3);  // code-length codes: symbol s is code s
    for (int i = 0; i < plain; ++i) w.Code(0, 5);
    w.Code(18, 5).Bits(static_cast<uint32_t>('a' - plain - 11), 7);  // zeros up to 'a'
    w.Code(3, 5).Code(16, 5).Bits(0, 2);                        // 'a' ... 'd': 3 bits each
    w.Code(18, 5).Bits(127, 7).Code(18, 5).Bits(6, 7);          // 155 zeros
    w.Code(3, 5).Code(1, 5);  // end of block: 3 bits; one distance code
    w.Code(3, 3).Code(0, 3).Code(2, 3).Code(1, 3).Code(4, 3);  // d a c b, end of block
    for (size_t spare : {0, 64}) {
      std::vector<uint8_t> stream = w.Finish();
      stream.resize(stream.size() + spare, 0xA5);
      EXPECT_EQ(Decode(stream).output, Text("dacb")) << plain << " " << spare;
    }
  }
}

TEST(Inflate, CodeLengthCausesAndWhereTheSourceStopsDoNotDependOnTheBytesAfter) {
  // With plenty of input buffered the code lengths are decoded on a faster
  // path; the cause and the source position after it must be the same.
  DeflateBitWriter no_code_lengths;  // every code-length code has length 0
  no_code_lengths.Bits(1, 1).Bits(2, 2).Bits(0, 5).Bits(0, 5).Bits(0, 4).Bits(0, 12);
  DeflateBitWriter late_repeat;  // code lengths 5 for all; 17 (3 zeros), then 16
  late_repeat.Bits(1, 1).Bits(2, 2).Bits(0, 5).Bits(0, 5).Bits(15, 4);
  for (int i = 0; i < 19; ++i) late_repeat.Bits(5, 3);
  for (int i = 0; i < 40; ++i) late_repeat.Code(5, 5);
  late_repeat.Code(18, 5).Bits(100, 7).Code(19, 5);  // symbol 19: no code-length symbol
  for (auto [stream, expected] : {std::pair{no_code_lengths.Finish(), cause::kCodeLengthSymbol},
                                  std::pair{late_repeat.Finish(), cause::kCodeLengthSymbol}}) {
    std::vector<int64_t> stops;
    for (size_t spare : {0, 200}) {
      std::vector<uint8_t> padded = stream;
      padded.resize(stream.size() + spare, 0xFF);
      TMemoryStream source(padded), dest;
      TAbDeflateHelper helper;
      try {
        Inflate(&source, &dest, &helper);
        ADD_FAILURE() << "no error";
      } catch (const EAbInflateError& e) {
        EXPECT_NE(e.Message().find(expected), std::string::npos) << e.Message();
      }
      stops.push_back(source.Position());
    }
    EXPECT_EQ(stops[0], stops[1]);
  }
}

TEST(Inflate, EveryStructuralCause) {
  DeflateBitWriter stored;
  stored.Bits(1, 1).Bits(0, 2).AlignToByte().Bits(5, 16).Bits(0xFFFF, 16);
  ExpectInflateError(stored.Finish(), cause::kStoredLength);

  ExpectInflateError({0x07}, cause::kBlockType);  // BFINAL 1, BTYPE 11

  DeflateBitWriter no_code_lengths;  // every code-length code has length 0
  no_code_lengths.Bits(1, 1).Bits(2, 2).Bits(0, 5).Bits(0, 5).Bits(0, 4).Bits(0, 12);
  no_code_lengths.Bits(0, 16);
  ExpectInflateError(no_code_lengths.Finish(), cause::kCodeLengthSymbol);

  DeflateBitWriter repeat_first;
  repeat_first.Bits(1, 1).Bits(2, 2).Bits(0, 5).Bits(0, 5).Bits(15, 4);
  for (int i = 0; i < 19; ++i) repeat_first.Bits(5, 3);
  repeat_first.Code(16, 5).Bits(0, 2);
  ExpectInflateError(repeat_first.Finish(), cause::kRepeatWithoutPrevious);

  DeflateBitWriter symbol_286;
  symbol_286.Bits(1, 1).Bits(1, 2).FixedSymbol(286);
  ExpectInflateError(symbol_286.Finish(), cause::kLengthSymbol);

  DeflateBitWriter too_far;
  too_far.Bits(1, 1).Bits(1, 2).FixedSymbol('a').FixedSymbol(257).FixedDistance(1);
  too_far.FixedSymbol(256);
  ExpectInflateError(too_far.Finish(), cause::kDistanceTooFar);

  std::vector<int> literals(257, 1), distances(1, 1);  // 257 codes of 1 bit
  DeflateBitWriter over;
  over.Bits(1, 1).Bits(2, 2);
  test::WriteDynamicHeader(over, literals, distances);
  ExpectInflateError(over.Finish(), cause::kOverSubscribed);
}

TEST(Inflate, Deflate64DistanceWithoutCodeIsAnError) {
  std::vector<int> literals(258, 0), distances(2, 0);
  literals['a'] = 2;
  literals[256] = 2;
  literals[257] = 1;  // length 3
  distances[0] = 1;   // only code 0 exists; 1 reaches nothing
  DeflateBitWriter w;
  w.Bits(1, 1).Bits(2, 2);
  test::WriteDynamicHeader(w, literals, distances);
  std::vector<uint32_t> codes = test::CanonicalCodes(literals);
  w.Code(codes['a'], 2).Code(codes[257], 1).Code(1, 1);
  ExpectInflateError(w.Finish(), cause::kDistance64Symbol, kDefaultDeflateOptions | dfoDeflate64);
}

TEST(Inflate, StreamEndingInsideABlockFailsWithNoMoreData) {
  std::vector<uint8_t> data(100000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>((i * i) >> 7);
  std::vector<uint8_t> packed = test::ZlibDeflateRaw(data, 6);
  packed.resize(packed.size() / 2);
  try {
    Decode(packed);
    FAIL() << "no error";
  } catch (const EAbInflateError& e) {
    EXPECT_EQ(e.Message().rfind("Inflate error, possibly a corrupted compressed stream. "
                                "(Internal cause: no more compressed data in stream [TAbDfInBitStream.",
                                0),
              0u)
        << e.Message();
  }
}

TEST(Inflate, SourceStandsAfterTheLastByteUsedAfterAnError) {
  // A fixed block ending in 10 bits, then block type 3 in the next 3 bits.
  std::vector<uint8_t> stream = {0x02, 0x1C};
  stream.resize(30000, 0x55);
  TMemoryStream source(stream), dest;
  EXPECT_THROW(Inflate(&source, &dest, nullptr), EAbInflateError);
  EXPECT_EQ(source.Position(), 2);
}

TEST(Inflate, OutputLimitStopsEarlyWithTheOutputKept) {
  std::vector<uint8_t> data(100000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>("limit"[i % 5] + i / 977);
  std::vector<uint8_t> packed = test::ZlibDeflateRaw(data, 6);
  Decoded d = Decode(packed, kDefaultDeflateOptions, 1000);
  EXPECT_EQ(d.checksum, 0u);
  ASSERT_GE(d.output.size(), 1000u);
  EXPECT_LT(d.output.size(), 1000u + 258u);
  EXPECT_TRUE(std::equal(d.output.begin(), d.output.end(), data.begin()));
  EXPECT_EQ(d.unpacked, static_cast<int32_t>(d.output.size()));

  std::vector<uint8_t> small(data.begin(), data.begin() + 500);
  EXPECT_EQ(Decode(test::ZlibDeflateRaw(small, 6), kDefaultDeflateOptions, 1000).checksum,
            test::ZlibCrc32(small));
}

TEST(Inflate, StoredDataPassesTheLimitWhichFiresAtTheNextSymbol) {
  std::vector<uint8_t> stored(5000, 's');
  DeflateBitWriter w;
  StoredBlock(w, false, stored);
  w.Bits(1, 1).Bits(1, 2).FixedSymbol('a').FixedSymbol('b').FixedSymbol(256);
  Decoded d = Decode(w.Finish(), kDefaultDeflateOptions, 1000);
  EXPECT_EQ(d.checksum, 0u);
  EXPECT_EQ(d.output.size(), 5001u) << "stopped right after the first literal";
}

TEST(Inflate, LimitCountsOnlyWhatA32KiBSlidingWindowWouldHold) {
  // 70,000 stored bytes slide 32,768 out of a 65,536-byte window, leaving
  // 37,232 counted; a limit of 60,000 then needs 22,768 more bytes. A
  // literal and matches of 258 reach it with the 89th match: 92,963 bytes.
  std::vector<uint8_t> history;
  DeflateBitWriter w = HistoryThenFixedBlock(history);
  w.FixedSymbol('a');
  for (int i = 0; i < 200; ++i) w.FixedSymbol(285).FixedDistance(0);
  w.FixedSymbol(256);
  Decoded d = Decode(w.Finish(), kDefaultDeflateOptions, 60000);
  EXPECT_EQ(d.checksum, 0u);
  EXPECT_EQ(d.output.size(), 70000u + 1u + 89u * 258u);
}

TEST(Inflate, TestOnlyModeCountsWithoutWriting) {
  std::vector<uint8_t> data(300000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i % 251 ^ i >> 11);
  Decoded d = Decode(test::ZlibDeflateRaw(data, 9), kDefaultDeflateOptions | dfoTestOnly);
  EXPECT_TRUE(d.output.empty());
  EXPECT_EQ(d.checksum, test::ZlibCrc32(data));
  EXPECT_EQ(d.unpacked, 300000);
}

TEST(Inflate, AbortFromTheProgressHandlerIsAUserAbortWithOutputKept) {
  std::vector<uint8_t> data(400000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 2654435761u >> 24);
  std::vector<uint8_t> packed = test::ZlibDeflateRaw(data, 1);
  TMemoryStream source(packed), dest;
  TAbDeflateHelper helper;
  helper.SourceSize = -1;
  std::vector<int32_t> seen;
  helper.OnProgressPercent = [&](int32_t percent) {
    seen.push_back(percent);
    if (seen.size() == 2) throw EAbAbortProgress("Process aborted by user");
  };
  try {
    Inflate(&source, &dest, &helper);
    FAIL() << "no abort";
  } catch (const EAbUserAbort& e) {
    EXPECT_EQ(e.ErrorCode, 9);
  }
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_GT(dest.Data().size(), 0u);
  EXPECT_TRUE(std::equal(dest.Data().begin(), dest.Data().end(), data.begin()));
  EXPECT_EQ(helper.PackedSize, 0) << "sizes are set only when decoding ends normally";
}

TEST(Inflate, MissingStreamsFailTheirAssertions) {
  TMemoryStream stream;
  inflate_test::ExpectAssertion([&] { Inflate(nullptr, &stream, nullptr); },
                                "Deflate: aSource stream cannot be nil (AbDfDec, line 687)");
  inflate_test::ExpectAssertion([&] { Inflate(&stream, nullptr, nullptr); },
                                "Deflate: aDest stream cannot be nil (AbDfDec, line 688)");
}

}  // namespace
}  // namespace velmora
