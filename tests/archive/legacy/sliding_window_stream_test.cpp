// The sliding window: absolute positions, the five chunks written out as
// they slide and at destruction, and its errors with their exact texts.
#include <gtest/gtest.h>

#include "archive/legacy/sliding_window_stream.h"
#include "rtl/exceptions.h"

namespace velmora {
namespace {

std::vector<uint8_t> Pattern(size_t size, uint8_t seed = 0) {
  std::vector<uint8_t> out(size);
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(i * 7 + i / 251 + seed);
  return out;
}

void ExpectMessage(const std::function<void()>& action, const std::string& message) {
  try {
    action();
    FAIL() << "no exception; expected \"" << message << "\"";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), message);
  }
}

TEST(SlidingWindowStream, ChunksReachTheOutputAsTheySlideAndTheRestAtDestruction) {
  TMemoryStream output;
  output.Data() = std::vector<uint8_t>(10, 0xEE);  // writing always starts at 0
  const auto data = Pattern(50000);
  {
    TabSlidingWindowStream window(&output);
    size_t done = 0;
    while (done < data.size()) {
      const int32_t n = static_cast<int32_t>(std::min<size_t>(7000, data.size() - done));
      ASSERT_EQ(window.Write(data.data() + done, n), n);
      done += n;
    }
    // Six chunks filled: the two at 0 and 8192 have slid out of the window.
    EXPECT_EQ(output.Size(), 16384);
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + 16384, output.Data().begin()));
    EXPECT_EQ(window.WindowStart(), 16384);
    EXPECT_EQ(window.Size(), 50000);
  }
  EXPECT_TRUE(output.Data() == data);
}

TEST(SlidingWindowStream, ReadsBackAnyPositionInTheWindowAcrossChunkBorders) {
  TMemoryStream output;
  TabSlidingWindowStream window(&output);
  const auto data = Pattern(45000, 3);
  for (size_t done = 0; done < data.size(); done += 9000) window.Write(data.data() + done, 9000);
  std::vector<uint8_t> back(20000);
  EXPECT_EQ(window.Seek(10000, soFromBeginning), 10000);
  EXPECT_EQ(window.Read(back.data(), 20000), 20000);
  EXPECT_TRUE(std::equal(back.begin(), back.end(), data.begin() + 10000));
  EXPECT_EQ(window.Seek(-3, soFromEnd), 44997);
  EXPECT_EQ(window.Read(back.data(), 20000), 3);  // never past the end
  EXPECT_EQ(window.Seek(-5, soFromCurrent), 44995);
  EXPECT_EQ(window.ByteAt(44995), data[44995]);
  EXPECT_EQ(window.ByteAt(8192), data[8192]);
}

TEST(SlidingWindowStream, TakesAtMost32768BytesPerWriteAndRead) {
  TMemoryStream output;
  TabSlidingWindowStream window(&output);
  const auto data = Pattern(40000);
  EXPECT_EQ(window.Write(data.data(), 40000), 32768);
  EXPECT_EQ(window.Size(), 32768);
  std::vector<uint8_t> back(40000);
  window.Seek(0, soFromBeginning);
  EXPECT_EQ(window.Read(back.data(), 40000), 32768);
}

TEST(SlidingWindowStream, RefusesWritesAwayFromTheEndAndSeeksOutsideTheWindow) {
  TMemoryStream output;
  TabSlidingWindowStream window(&output);
  const auto data = Pattern(60000);
  window.Write(data.data(), 30000);
  window.Write(data.data() + 30000, 30000);
  window.Seek(-1, soFromEnd);
  ExpectMessage([&] { window.Write(data.data(), 1); },
                "TabSlidingWindowStream.Write: Not at end of stream");
  ExpectMessage([&] { window.Seek(0, 3); }, "TabSlidingWindowStream.Seek: invalid origin");
  ExpectMessage([&] { window.Seek(window.WindowStart() - 1, soFromBeginning); },
                "TabSlidingWindowStream.Seek: invalid new position");
  ExpectMessage([&] { window.Seek(1, soFromEnd); },
                "TabSlidingWindowStream.Seek: invalid new position");
  EXPECT_EQ(window.Seek(window.WindowStart(), soFromBeginning), window.WindowStart());
}

// An output stream that fails on demand.
class FailingStream : public TMemoryStream {
 public:
  bool fail_seek = false;
  bool fail_write = false;
  int32_t Write(const void* buffer, int32_t count) override {
    return fail_write ? count / 2 : TMemoryStream::Write(buffer, count);
  }
  int64_t Seek(int64_t offset, uint16_t origin) override {
    return fail_seek ? -1 : TMemoryStream::Seek(offset, origin);
  }
};

TEST(SlidingWindowStream, ReportsAFailedSeekOrShortWriteOfAChunk) {
  const auto data = Pattern(32768);
  FailingStream output;
  TabSlidingWindowStream window(&output);
  window.Write(data.data(), 32768);
  output.fail_write = true;
  ExpectMessage([&] { window.Write(data.data(), 8192); },
                "TabSlidingWindowStream.bsWriteChunk: write failed");
  output.fail_write = false;
  output.fail_seek = true;
  ExpectMessage([&] { window.bsWriteChunk(4); }, "TabSlidingWindowStream.bsWriteChunk: seek failed");
  output.fail_seek = false;
}

TEST(SlidingWindowStream, DiscardedWindowWritesNothingAtDestruction) {
  TMemoryStream output;
  {
    TabSlidingWindowStream window(&output);
    const auto data = Pattern(1000);
    window.Write(data.data(), 1000);
    window.Discard();
  }
  EXPECT_EQ(output.Size(), 0);
}

}  // namespace
}  // namespace velmora
