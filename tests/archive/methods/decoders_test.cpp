// The method decoders on their own, over memory streams: data made by the
// libraries' own encoders decodes to its content and CRC-32; damaged, short
// and overlong data fails with the decoder's error; nothing past the
// item's packed size is read; progress ends at 100 and an abort stops.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "archive/checksum/crc32.h"
#include "archive/methods/methods.h"
#include "tests/support/method_encoders.h"
#include "tests/support/zip_writer.h"

namespace velmora {
namespace {

using testing::Crc32Of;

struct MethodCase {
  const char* name;
  uint16_t method;
  std::function<std::vector<uint8_t>(const std::vector<uint8_t>&)> encode;
};

const std::vector<MethodCase>& Cases() {
  static const std::vector<MethodCase> cases = {
      {"bzip2", kZipMethodBzip2, testing::Bzip2Compress},
      {"lzma_end_marker", kZipMethodLzma,
       [](const std::vector<uint8_t>& d) { return testing::LzmaZipCompress(d, true); }},
      {"lzma_no_end_marker", kZipMethodLzma,
       [](const std::vector<uint8_t>& d) { return testing::LzmaZipCompress(d, false); }},
      {"xz", kZipMethodXz, testing::XzCompress},
      {"zstd", kZipMethodZstd, testing::ZstdCompress},
  };
  return cases;
}

struct Decoded {
  std::vector<uint8_t> output;
  uint32_t crc = 0;
  std::vector<int> steps;
  int64_t source_position = 0;
  // The failure, if any: its code and text.
  int32_t code = 0;
  std::string error;
};

// Decodes packed behind 3 bytes of other data and followed by 5 more, as an
// item sits in an archive.
Decoded Decode(uint16_t method, const std::vector<uint8_t>& packed, int64_t unpacked_size,
               int abort_at = -1) {
  std::vector<uint8_t> archive = {'x', 'y', 'z'};
  archive.insert(archive.end(), packed.begin(), packed.end());
  archive.insert(archive.end(), 5, 0xEE);
  TMemoryStream source(archive), dest;
  source.Seek(3, soFromBeginning);
  Decoded d;
  TAbMethodJob job;
  job.Source = &source;
  job.PackedSize = static_cast<int64_t>(packed.size());
  job.Destination = &dest;
  job.UnpackedSize = unpacked_size;
  job.MaxWrite = 4096;
  job.OnProgress = [&](uint8_t percent, bool& abort) {
    d.steps.push_back(percent);
    abort = abort_at >= 0 && percent >= abort_at;
  };
  try {
    d.crc = DecodeMethodData(method, job);
  } catch (const EAbException& e) {
    d.code = e.ErrorCode;
    d.error = e.Message();
  }
  d.output = dest.Data();
  d.source_position = source.Position();
  return d;
}

class MethodDecoders : public ::testing::TestWithParam<MethodCase> {
 protected:
  std::vector<uint8_t> plain_ = testing::NumberedLines(5000);  // about 130 KB: several input blocks
  std::vector<uint8_t> packed_ = GetParam().encode(plain_);
  int64_t size_ = static_cast<int64_t>(plain_.size());
};

TEST_P(MethodDecoders, DecodeLibraryOutputToItsContentAndCrc) {
  const Decoded d = Decode(GetParam().method, packed_, size_);
  EXPECT_EQ(d.output, plain_);
  EXPECT_EQ(d.crc, Crc32Of(plain_));
  // The 5 bytes behind the item are 0xEE; none of them is read.
  EXPECT_EQ(d.source_position, 3 + static_cast<int64_t>(packed_.size()));
  ASSERT_FALSE(d.steps.empty());
  EXPECT_EQ(d.steps.back(), 100);
}

TEST_P(MethodDecoders, DecodeAnEmptyItem) {
  const std::vector<uint8_t> packed = GetParam().encode({});
  const Decoded d = Decode(GetParam().method, packed, 0);
  EXPECT_TRUE(d.output.empty());
  EXPECT_EQ(d.crc, 0u);
}

TEST_P(MethodDecoders, RefuseDataThatDecodesPastTheDeclaredSize) {
  const Decoded d = Decode(GetParam().method, packed_, size_ - 1000);
  EXPECT_EQ(d.code, AbMethodDataError);
  EXPECT_LE(static_cast<int64_t>(d.output.size()), size_ - 1000);
  // LZMA is told the size and finds more data than it needs to reach it.
  const std::string expected = GetParam().method == kZipMethodLzma
                                   ? "LZMA data is damaged"
                                   : "declared size of " + std::to_string(size_ - 1000);
  EXPECT_NE(d.error.find(expected), std::string::npos) << d.error;
}

TEST_P(MethodDecoders, FailDataCutShort) {
  std::vector<uint8_t> cut(packed_.begin(),
                           packed_.begin() + static_cast<long>(packed_.size() / 2));
  const Decoded d = Decode(GetParam().method, cut, size_);
  EXPECT_EQ(d.code, AbMethodDataError) << d.error;
}

TEST_P(MethodDecoders, StopWithUserAbortWhenProgressAsks) {
  const Decoded d = Decode(GetParam().method, packed_, size_, 30);
  EXPECT_EQ(d.code, AbUserAbort);
  EXPECT_LT(d.output.size(), plain_.size());
}

INSTANTIATE_TEST_SUITE_P(Each, MethodDecoders, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MethodDecoders, DamagedDataFailsTheFormatsOwnChecks) {
  const std::vector<uint8_t> plain = testing::NumberedLines(2000);
  const auto size = static_cast<int64_t>(plain.size());
  std::vector<uint8_t> bzip2 = testing::Bzip2Compress(plain);
  bzip2[bzip2.size() / 2] ^= 0x55;  // inside the block: its CRC fails
  EXPECT_EQ(Decode(kZipMethodBzip2, bzip2, size).code, AbMethodDataError);
  std::vector<uint8_t> xz = testing::XzCompress(plain);
  xz[xz.size() - 20] ^= 0x01;  // the index or the check
  EXPECT_EQ(Decode(kZipMethodXz, xz, size).code, AbMethodDataError);
  std::vector<uint8_t> zstd = testing::ZstdCompress(plain);
  zstd[0] ^= 0xFF;  // the frame magic
  EXPECT_EQ(Decode(kZipMethodZstd, zstd, size).code, AbMethodDataError);
}

TEST(MethodDecoders, ConcatenatedBzip2StreamsDecodeAsOne) {
  const std::vector<uint8_t> a = testing::NumberedLines(100), b = testing::NumberedLines(7);
  std::vector<uint8_t> packed = testing::Bzip2Compress(a);
  const std::vector<uint8_t> second = testing::Bzip2Compress(b);
  packed.insert(packed.end(), second.begin(), second.end());
  std::vector<uint8_t> plain = a;
  plain.insert(plain.end(), b.begin(), b.end());
  EXPECT_EQ(Decode(kZipMethodBzip2, packed, static_cast<int64_t>(plain.size())).output, plain);
}

TEST(MethodDecoders, LzmaHeaderWithOddPropertiesIsRefused) {
  std::vector<uint8_t> packed = testing::LzmaZipCompress(testing::NumberedLines(10), true);
  std::vector<uint8_t> six = packed;
  six[2] = 6;  // properties size
  EXPECT_EQ(Decode(kZipMethodLzma, six, 1000).error,
            "Cannot extract file - LZMA header gives 6 bytes of properties; 5 are expected");
  packed[4] = 225;  // lc/lp/pb byte beyond 9 * 5 * 5
  EXPECT_EQ(Decode(kZipMethodLzma, packed, 1000).code, AbMethodDataError);
  EXPECT_EQ(Decode(kZipMethodLzma, {9, 20, 5}, 1000).code, AbMethodDataError);
}

TEST(MethodDecoders, PpmdAndUnknownMethodsAreUnsupported) {
  EXPECT_FALSE(IsMethodDecodable(kZipMethodPpmd));
  EXPECT_EQ(Decode(kZipMethodPpmd, {1, 2, 3}, 3).code, AbUnknownCompressionMethod);
  EXPECT_EQ(Decode(200, {1, 2, 3}, 3).code, AbUnknownCompressionMethod);
}

TEST(MethodDecoders, NamesAsListingsShowThem) {
  EXPECT_STREQ(ZipMethodName(kZipMethodBzip2), "BZip2");
  EXPECT_STREQ(ZipMethodName(kZipMethodLzma), "LZMA");
  EXPECT_STREQ(ZipMethodName(kZipMethodZstd), "Zstd");
  EXPECT_STREQ(ZipMethodName(kZipMethodXz), "XZ");
  EXPECT_STREQ(ZipMethodName(kZipMethodPpmd), "PPMd");
  EXPECT_STREQ(ZipMethodName(kZipMethodWinZipAes), "AES");
  EXPECT_EQ(ZipMethodName(200), nullptr);
}

}  // namespace
}  // namespace velmora
