// The unzip helper around the expanders: the method check, the input
// refill (read errors, spanned disks), where the output goes, and the
// progress reports with their abort.
#include <gtest/gtest.h>

#include "legacy_test_util.h"
#include "tests/support/implode_encoder.h"
#include "tests/support/legacy_encoder_common.h"
#include "tests/support/reduce_encoder.h"
#include "tests/support/shrink_encoder.h"

namespace velmora {
namespace {

using legacy_test::ExpandBytes;
using legacy_test::ExpandSettings;

TEST(UnzipHelper, RefusesEveryMethodOutsideOneToSix) {
  for (int method : {0, 7, 8, 9, 10, 12, 255}) {
    ExpandSettings s;
    s.method = static_cast<uint8_t>(method);
    try {
      ExpandBytes({1, 2, 3}, s);
      ADD_FAILURE() << "method " << method << " accepted";
    } catch (const EAbZipInvalidMethod& e) {
      EXPECT_EQ(e.Message(), "Cannot extract file - unsupported compression method");
      EXPECT_EQ(e.ErrorCode, 2);
    }
  }
}

// Takes the first `room` bytes, then no more, as a full disk does.
class FullingStream : public TMemoryStream {
 public:
  explicit FullingStream(int64_t room) : room_(room) {}
  int32_t Write(const void* buffer, int32_t count) override {
    const auto n = static_cast<int32_t>(std::clamp<int64_t>(room_ - Size(), 0, count));
    return TMemoryStream::Write(buffer, n);
  }

 private:
  int64_t room_;
};

// Shrink writes the output itself, reduce and implode through the window:
// a short write fails each, where the CRC of the buffer would have matched.
TEST(UnzipHelper, ShortWriteOfTheOutputFailsTheItem) {
  const auto data = legacy_test::SampleText(100000);
  const std::vector<std::pair<std::vector<uint8_t>, ExpandSettings>> cases = {
      {testing::EncodeShrink(data), legacy_test::ShrinkSettings(100000)},
      {testing::EncodeReduce(data, 2), legacy_test::ReduceSettings(2, 100000)},
      {testing::EncodeImplode(data, {}), legacy_test::ImplodeSettings(true, true, 100000)}};
  for (const auto& [packed, settings] : cases) {
    TMemoryStream source(packed);
    FullingStream output(40000);
    TAbUnzipHelper helper(&source, nullptr, &output);
    helper.Method = settings.method;
    helper.ImplodeDictionary = settings.dictionary;
    helper.ImplodeTreeCount = settings.trees;
    helper.PackedSize = static_cast<uint32_t>(packed.size());
    helper.UnpackedSize = settings.unpacked_size;
    EXPECT_THROW(helper.Execute(), Exception) << "method " << int{settings.method};
  }
}

TEST(UnzipHelper, RaisesReadErrorWhenTheArchiveEndsBeforeThePackedSize) {
  const auto data = legacy_test::SampleText(9000);
  const auto packed = testing::EncodeShrink(data);
  TMemoryStream source(packed);
  TMemoryStream output;
  TAbUnzipHelper helper(&source, nullptr, &output);
  helper.Method = 1;
  helper.PackedSize = static_cast<uint32_t>(packed.size() + 100);
  helper.UnpackedSize = 9000;
  try {
    helper.Execute();
    FAIL() << "no read error";
  } catch (const EAbReadError& e) {
    EXPECT_EQ(e.Message(), "Error reading archive");
  }
  // What was expanded before the failure still reached the output.
  EXPECT_TRUE(output.Data() == data);
}

TEST(UnzipHelper, SpannedArchiveGoesOnWithTheNextDiskAtTheEndOfAStream) {
  const auto data = legacy_test::SampleBinary(30000);
  const auto packed = testing::EncodeImplode(data, {true, false});
  const size_t split = packed.size() / 3;
  TMemoryStream first(std::vector<uint8_t>(packed.begin(), packed.begin() + split));
  TMemoryStream second(std::vector<uint8_t>(packed.begin() + split, packed.end()));
  TMemoryStream output;
  TAbUnzipHelper helper(&first, nullptr, &output);
  helper.Method = 6;
  helper.ImplodeDictionary = kImplodeDictionary8K;
  helper.ImplodeTreeCount = 2;
  helper.PackedSize = static_cast<uint32_t>(packed.size());
  helper.UnpackedSize = 30000;
  helper.Spanned = true;
  helper.CurrentDisk = 4;
  std::vector<uint16_t> asked;
  helper.SwitchImage = [&](uint16_t disk) -> TStream* {
    asked.push_back(disk);
    return &second;
  };
  EXPECT_EQ(helper.Execute(), legacy_test::CrcOf(data));
  EXPECT_TRUE(output.Data() == data);
  EXPECT_EQ(asked, (std::vector<uint16_t>{5}));
}

TEST(UnzipHelper, SpannedArchiveWithoutAWayToSwitchDisksIsABadSpanStream) {
  const auto packed = testing::EncodeShrink(legacy_test::SampleText(3000));
  TMemoryStream first(std::vector<uint8_t>(packed.begin(), packed.begin() + 10));
  TMemoryStream output;
  TAbUnzipHelper helper(&first, nullptr, &output);
  helper.Method = 1;
  helper.PackedSize = static_cast<uint32_t>(packed.size());
  helper.Spanned = true;
  EXPECT_THROW(helper.Execute(), EAbZipBadSpanStream);
}

TEST(UnzipHelper, ShrinkWritesAtTheOutputPositionAndTheOthersFromTheStart) {
  const auto data = legacy_test::SampleText(1000);
  for (uint8_t method : {1, 3}) {
    const auto packed =
        method == 1 ? testing::EncodeShrink(data) : testing::EncodeReduce(data, method - 1);
    TMemoryStream source(packed);
    TMemoryStream output(std::vector<uint8_t>(5, 'p'));
    output.Seek(0, soFromEnd);
    TAbUnzipHelper helper(&source, nullptr, &output);
    helper.Method = method;
    helper.PackedSize = static_cast<uint32_t>(packed.size());
    helper.UnpackedSize = 1000;
    helper.Execute();
    std::vector<uint8_t> expected = data;
    if (method == 1) expected.insert(expected.begin(), 5, 'p');
    EXPECT_TRUE(output.Data() == expected) << "method " << int{method};
  }
}

std::vector<uint8_t> ReportsOf(const std::vector<uint8_t>& packed, ExpandSettings s) {
  std::vector<uint8_t> reports;
  s.on_progress = [&](uint8_t percent, bool&) { reports.push_back(percent); };
  ExpandBytes(packed, s);
  return reports;
}

TEST(UnzipHelper, ShrinkReportsProgressOncePerFlushOf32768Bytes) {
  const auto data = legacy_test::SampleText(100000);
  EXPECT_EQ(ReportsOf(testing::EncodeShrink(data), legacy_test::ShrinkSettings(100000)),
            (std::vector<uint8_t>{32, 65, 98, 100}));
}

TEST(UnzipHelper, ReadingBackReportsEveryPercentAsAFlushPerByteWould) {
  // Nearly all copies: every byte copied is preceded by a flush, so every
  // percentage shows up once, in order.
  const auto data = legacy_test::SampleRepetitive(100000);
  std::vector<uint8_t> all;
  for (int p = 1; p <= 100; ++p) all.push_back(static_cast<uint8_t>(p));
  EXPECT_EQ(ReportsOf(testing::EncodeImplode(data, {true, true}),
                      legacy_test::ImplodeSettings(true, true, 100000)),
            all);
  EXPECT_EQ(ReportsOf(testing::EncodeReduce(data, 4), legacy_test::ReduceSettings(4, 100000)), all);
}

TEST(UnzipHelper, AbortFromTheProgressCallbackStopsWithUserAbortKeepingTheOutput) {
  const auto data = legacy_test::SampleRepetitive(100000);
  const auto packed = testing::EncodeReduce(data, 2);
  TMemoryStream source(packed);
  TMemoryStream output;
  TAbUnzipHelper helper(&source, nullptr, &output);
  helper.Method = 3;
  helper.PackedSize = static_cast<uint32_t>(packed.size());
  helper.UnpackedSize = 100000;
  int calls = 0;
  helper.OnProgress = [&](uint8_t percent, bool& abort) {
    ++calls;
    abort = percent >= 45;
  };
  try {
    helper.Execute();
    FAIL() << "no abort";
  } catch (const EAbUserAbort& e) {
    EXPECT_EQ(e.Message(), "Process aborted by user");
  }
  EXPECT_EQ(calls, 45);
  // Everything expanded up to the abort is in the output, and no more.
  ASSERT_GE(output.Size(), 45000);
  EXPECT_LT(output.Size(), 46000);
  EXPECT_TRUE(std::equal(output.Data().begin(), output.Data().end(), data.begin()));
}

TEST(UnzipHelper, AbortAtTheLastFlushDropsTheWindowUnwritten) {
  // Literals only, and the data ends before the expected size: the bytes
  // wait in the buffer until the flush that ends Execute, whose report
  // asks to stop.
  testing::LsbBitWriter out;
  for (int c = 0; c < 256; ++c) out.Write(0, 6);
  for (int i = 0; i < 3000; ++i) out.Write('a' + i % 26, 8);
  TMemoryStream source(out.Bytes());
  TMemoryStream output;
  TAbUnzipHelper helper(&source, nullptr, &output);
  helper.Method = 2;
  helper.PackedSize = static_cast<uint32_t>(out.Bytes().size());
  helper.UnpackedSize = 5000;
  helper.OnProgress = [](uint8_t, bool& abort) { abort = true; };
  EXPECT_THROW(helper.Execute(), EAbUserAbort);
  EXPECT_EQ(output.Size(), 0);
}


// A ZIP64 item's size beyond 4 GiB is neither cut to its low 32 bits (which
// would end the output after 1,000 bytes and report 100 there) nor lost to
// the percentages: 100,000 bytes of 4 GiB and 1,000 stay at 0 percent.
// (The data ends first here; the CRC-32 would fail such an item.)
TEST(UnzipHelper, SizeBeyondFourGiBLimitsNeitherOutputNorProgress) {
  const auto data = legacy_test::SampleText(100000);
  for (int method : {1, 3, 6}) {
    const std::vector<uint8_t> packed = method == 1   ? testing::EncodeShrink(data)
                                        : method == 3 ? testing::EncodeReduce(data, 2)
                                                      : testing::EncodeImplode(data, {});
    TMemoryStream source(packed);
    TMemoryStream output;
    TAbUnzipHelper helper(&source, nullptr, &output);
    helper.Method = static_cast<uint8_t>(method);
    helper.ImplodeDictionary = kImplodeDictionary8K;
    helper.ImplodeTreeCount = 3;
    helper.PackedSize = static_cast<uint32_t>(packed.size());
    helper.UnpackedSize = (int64_t{1} << 32) + 1000;
    std::vector<uint8_t> seen;
    helper.OnProgress = [&seen](uint8_t percent, bool&) { seen.push_back(percent); };
    helper.Execute();
    // Past its data a stream with no end code may decode its last padding
    // bits as a few more bytes; it is not stopped at 1,000.
    EXPECT_GE(output.Size(), 100000) << "method " << method;
    EXPECT_TRUE(seen.empty()) << "method " << method << " reported " << int{seen.back()};
  }
}

}  // namespace
}  // namespace velmora
