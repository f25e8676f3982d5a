#include "archive/legacy/unreduce.h"

#include <array>
#include <bit>

#include "archive/legacy/unzip_helper.h"
#include "rtl/format.h"

namespace velmora {

namespace {

constexpr int32_t kMaxFollowers = 32;
constexpr uint8_t kEscape = 144;  // 0x90: a length/distance pair follows
constexpr int32_t kMinMatch = 3;

struct FollowerSet {
  uint8_t count = 0;
  uint8_t index_bits = 0;
  // Zeroed: an index beyond count reads a 0 rather than stale bytes.
  std::array<uint8_t, kMaxFollowers> chars{};
};

// Bits of a follower index: those needed for count - 1, at least 1.
uint8_t IndexBits(int32_t count) {
  const int32_t width = static_cast<int32_t>(std::bit_width(static_cast<uint32_t>(count - 1)));
  return static_cast<uint8_t>(width < 1 ? 1 : width);
}

void ReadFollowerSets(TAbUnzipHelper& h, std::array<FollowerSet, 256>& sets) {
  for (int32_t c = 255; c >= 0; --c) {
    FollowerSet& set = sets[c];
    const int32_t count = static_cast<int32_t>(h.ReadBits(6));
    if (count > kMaxFollowers) {
      throw EAbLegacyDataError(
          Format("Reduced data gives character %d a follower set of %d; at most %d fit",
                 {c, count, kMaxFollowers}));
    }
    set.count = static_cast<uint8_t>(count);
    set.index_bits = IndexBits(count);
    for (int32_t i = 0; i < count; ++i) set.chars[i] = static_cast<uint8_t>(h.ReadBits(8));
  }
}

uint8_t ReadChar(TAbUnzipHelper& h, const FollowerSet& set) {
  if (set.count == 0) return static_cast<uint8_t>(h.ReadBits(8));
  // The flag and what follows it, 9 bits at most, in one look when they
  // are buffered.
  const uint32_t ahead = h.PeekBits(9);
  if (h.BitsAvailable() >= 9) {
    if (ahead & 1) {
      h.SkipBits(9);
      return static_cast<uint8_t>(ahead >> 1);
    }
    h.SkipBits(1 + set.index_bits);
    return set.chars[(ahead >> 1) & ((1u << set.index_bits) - 1)];
  }
  if (h.ReadBits(1)) return static_cast<uint8_t>(h.ReadBits(8));
  return set.chars[h.ReadBits(set.index_bits)];
}

}  // namespace

void Unreduce(TAbUnzipHelper& h, int32_t factor) {
  if (factor < 1 || factor > 4) throw EAbZipInvalidFactor();
  std::array<FollowerSet, 256> sets;
  ReadFollowerSets(h, sets);
  // The length takes the low 8 - factor bits of V, the distance's high
  // part the top factor bits.
  const uint8_t length_mask = static_cast<uint8_t>(0xFF >> factor);
  const int64_t size = h.ExpectedSize();
  uint8_t last = 0;
  int32_t state = 0;
  int32_t length = 0;
  uint8_t v = 0;
  while (!h.InputEnded() && h.BytesProduced() < size) {
    const uint8_t ch = ReadChar(h, sets[last]);
    last = ch;
    if (h.InputEnded()) break;
    switch (state) {
      case 0:
        if (ch == kEscape) {
          state = 1;
        } else {
          h.WriteByte(ch);
        }
        break;
      case 1:
        if (ch == 0) {
          h.WriteByte(kEscape);
          state = 0;
        } else {
          v = ch;
          length = v & length_mask;
          state = length == length_mask ? 2 : 3;
        }
        break;
      case 2:
        length += ch;
        state = 3;
        break;
      default: {
        const int64_t distance = ((v >> (8 - factor)) << 8) + ch + 1;
        h.CopyFromOutput(h.BytesProduced() - distance, length + kMinMatch);
        state = 0;
        break;
      }
    }
  }
}

}  // namespace velmora
