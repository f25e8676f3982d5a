// Inflate's progress over a source beyond 4 GiB rises evenly to 100.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "archive/inflate/deflate_helper.h"
#include "archive/inflate/inflate.h"

namespace velmora {
namespace {

// Stored blocks of 65,535 zeros, made as they are read: each is a header
// byte (BFINAL in bit 0, BTYPE 00), LEN FF FF and NLEN 00 00, then the data.
class StoredZerosSource : public TMemoryStream {
 public:
  static constexpr int64_t kBlock = 5 + 65535;
  explicit StoredZerosSource(int64_t blocks) : blocks_(blocks) {}
  int32_t Read(void* buffer, int32_t count) override {
    auto* out = static_cast<uint8_t*>(buffer);
    const auto n = static_cast<int32_t>(std::min<int64_t>(count, Size() - at_));
    std::memset(out, 0, static_cast<size_t>(n));
    for (int64_t block = at_ / kBlock; block * kBlock < at_ + n; ++block) {
      const uint8_t header[3] = {block == blocks_ - 1 ? uint8_t{1} : uint8_t{0}, 0xFF, 0xFF};
      for (int64_t i = 0; i < 3; ++i) {
        const int64_t to = block * kBlock + i - at_;
        if (to >= 0 && to < n) out[to] = header[i];
      }
    }
    at_ += n;
    return n;
  }
  int64_t Seek(int64_t offset, uint16_t origin) override {
    at_ = std::clamp<int64_t>((origin == soFromCurrent ? at_ : 0) + offset, 0, Size());
    return at_;
  }
  int64_t Size() override { return blocks_ * kBlock; }

 private:
  int64_t blocks_, at_ = 0;
};

TEST(InflateProgress, RisesEvenlyToOneHundredOverASourceBeyondFourGiB) {
  StoredZerosSource source(65538);  // 4,295,360,520 bytes
  ASSERT_GT(source.Size(), int64_t{1} << 32);
  TMemoryStream unused;
  TAbDeflateHelper helper;
  helper.Options |= dfoTestOnly;
  helper.SourceSize = source.Size();
  std::vector<int32_t> seen;
  helper.OnProgressPercent = [&seen](int32_t percent) {
    if (seen.empty() || seen.back() != percent) seen.push_back(percent);
  };
  Inflate(&source, &unused, &helper);
  // Every whole percentage on the way, none skipped, none beyond 100.
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_GE(seen.size(), 100u);
  EXPECT_EQ(seen.back(), 100);
}

}  // namespace
}  // namespace velmora
