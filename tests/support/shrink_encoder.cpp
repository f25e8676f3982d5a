#include "shrink_encoder.h"

#include <algorithm>
#include <unordered_map>

#include "legacy_encoder_common.h"

namespace velmora::testing {

namespace {

constexpr int kTableSize = 8192;
constexpr int kFirstFree = 257;

// The decoder's table, kept exactly as the decoder keeps it, plus an index
// from (prefix, suffix) to code for finding the longest known string.
class ShrinkTable {
 public:
  ShrinkTable() : prefix_(kTableSize, -1), suffix_(kTableSize, 0) {
    for (int c = 0; c < 256; ++c) {
      prefix_[c] = 0;
      suffix_[c] = static_cast<uint8_t>(c);
    }
  }

  int Child(int code, uint8_t ch) const {
    auto it = index_.find(Key(code, ch));
    return it == index_.end() ? -1 : it->second;
  }

  // What the decoder does after a code: define next_free as (previous, first).
  void Define(int previous, uint8_t first) {
    if (next_free_ >= kTableSize) return;
    prefix_[next_free_] = static_cast<int16_t>(previous);
    suffix_[next_free_] = first;
    index_.emplace(Key(previous, first), next_free_);
    ++next_free_;
    while (next_free_ < kTableSize && prefix_[next_free_] != -1) ++next_free_;
  }

  void PartialClear() {
    std::vector<uint8_t> leaf(kTableSize, 0);
    for (int c = kFirstFree; c < next_free_; ++c) leaf[c] = 1;
    for (int c = kFirstFree; c < next_free_; ++c) {
      if (prefix_[c] != -1) leaf[prefix_[c]] = 0;
    }
    for (int c = kFirstFree; c < next_free_; ++c) {
      if (!leaf[c]) continue;
      auto it = index_.find(Key(prefix_[c], suffix_[c]));
      if (it != index_.end() && it->second == c) index_.erase(it);
      prefix_[c] = -1;
    }
    next_free_ = kFirstFree;
    while (next_free_ < kTableSize && prefix_[next_free_] != -1) ++next_free_;
  }

  bool Full() const { return next_free_ >= kTableSize; }

 private:
  static uint32_t Key(int code, uint8_t ch) { return static_cast<uint32_t>(code) << 8 | ch; }
  std::vector<int16_t> prefix_;
  std::vector<uint8_t> suffix_;
  std::unordered_map<uint32_t, int> index_;
  int next_free_ = kFirstFree;
};

bool Contains(const std::vector<size_t>& offsets, size_t i) {
  return std::find(offsets.begin(), offsets.end(), i) != offsets.end();
}

}  // namespace

std::vector<uint8_t> EncodeShrink(const std::vector<uint8_t>& data,
                                  const ShrinkEncoderOptions& options) {
  LsbBitWriter out;
  ShrinkTable table;
  int code_size = 9;
  auto control = [&](int value) {
    out.Write(256, code_size);
    out.Write(static_cast<uint32_t>(value), code_size);
  };
  int previous = -1;
  size_t i = 0;
  while (i < data.size()) {
    // The decoder reads the very first code as a plain byte, never as a
    // control, so controls wait for the second.
    if (Contains(options.widen_at, i) && code_size < 13 && previous >= 0) {
      control(1);
      ++code_size;
    }
    if (Contains(options.partial_clear_at, i) && previous >= 0) {
      // A literal first, so that the code the decoder defines next never
      // hangs off a code the clearing freed.
      if (previous > 255) {
        out.Write(data[i], code_size);
        table.Define(previous, data[i]);
        previous = data[i];
        if (++i == data.size()) break;
      }
      control(2);
      table.PartialClear();
    }
    int code = data[i];
    size_t length = 1;
    while (i + length < data.size()) {
      const int child = table.Child(code, data[i + length]);
      if (child < 0) break;
      code = child;
      ++length;
    }
    while (code >= (1 << code_size)) {
      control(1);
      ++code_size;
    }
    out.Write(static_cast<uint32_t>(code), code_size);
    if (previous >= 0) table.Define(previous, data[i]);
    previous = code;
    i += length;
    if (options.clear_when_full && table.Full()) {
      control(2);
      table.PartialClear();
    }
  }
  return out.Bytes();
}

}  // namespace velmora::testing
