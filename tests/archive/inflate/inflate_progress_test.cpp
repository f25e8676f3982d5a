// Inflate's progress over sources beyond 4 GiB: the percentage is taken
// of the whole source, so it rises evenly to 100 however large the item.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "archive/inflate/deflate_helper.h"
#include "archive/inflate/inflate.h"

namespace velmora {
namespace {

// A Deflate stream made on the fly of stored blocks of 65,535 zeros: each
// block is a header byte (BFINAL in bit 0, BTYPE 00), LEN FF FF and NLEN
// 00 00, then the bytes. Nothing of it is held in memory.
class StoredBlocksSource : public TStream {
 public:
  static constexpr int64_t kBlockData = 65535;
  static constexpr int64_t kBlockSize = 5 + kBlockData;

  explicit StoredBlocksSource(int64_t blocks) : blocks_(blocks) {}

  int32_t Read(void* buffer, int32_t count) override {
    auto* out = static_cast<uint8_t*>(buffer);
    const auto n = static_cast<int32_t>(std::min<int64_t>(count, Size() - position_));
    std::memset(out, 0, static_cast<size_t>(std::max(n, 0)));
    // The headers that fall in [position_, position_ + n).
    for (int64_t block = position_ / kBlockSize; block * kBlockSize < position_ + n; ++block) {
      const uint8_t header[5] = {static_cast<uint8_t>(block == blocks_ - 1 ? 1 : 0), 0xFF, 0xFF,
                                 0x00, 0x00};
      for (int64_t i = 0; i < 5; ++i) {
        const int64_t at = block * kBlockSize + i - position_;
        if (at >= 0 && at < n) out[at] = header[i];
      }
    }
    position_ += std::max(n, 0);
    return n;
  }
  int32_t Write(const void*, int32_t) override { return 0; }
  int64_t Seek(int64_t offset, uint16_t origin) override {
    const int64_t base = origin == soFromCurrent ? position_ : origin == soFromEnd ? Size() : 0;
    position_ = std::clamp<int64_t>(base + offset, 0, Size());
    return position_;
  }
  int64_t Size() override { return blocks_ * kBlockSize; }

 private:
  int64_t blocks_;
  int64_t position_ = 0;
};

class NullSink : public TStream {
 public:
  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void*, int32_t count) override { return count; }
  int64_t Seek(int64_t, uint16_t) override { return 0; }
};

TEST(InflateProgress, RisesEvenlyToOneHundredOverASourceBeyondFourGiB) {
  // 65,538 blocks: 4 GiB and 128 KiB of data, 4,295,360,520 bytes of source.
  StoredBlocksSource source(65538);
  ASSERT_GT(source.Size(), int64_t{1} << 32);
  NullSink sink;
  TAbDeflateHelper helper;
  helper.Options |= dfoTestOnly;
  helper.SourceSize = source.Size();
  std::vector<int32_t> seen;
  helper.OnProgressPercent = [&seen](int32_t percent) {
    if (seen.empty() || seen.back() != percent) seen.push_back(percent);
  };
  Inflate(&source, &sink, &helper);

  ASSERT_FALSE(seen.empty());
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(seen.back(), 100);
  // Every whole percentage passes on the way: none is skipped by a divisor
  // cut to 31 bits, and none lies beyond 100.
  EXPECT_GE(seen.size(), 100u);
  EXPECT_LE(*std::max_element(seen.begin(), seen.end()), 100);
}

}  // namespace
}  // namespace velmora
