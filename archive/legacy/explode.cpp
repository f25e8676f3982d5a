#include "archive/legacy/explode.h"

#include <algorithm>
#include <array>

#include "archive/legacy/unzip_helper.h"
#include "rtl/format.h"

namespace velmora {

namespace {

constexpr int32_t kLiteralEntries = 256;
constexpr int32_t kLengthEntries = 64;
constexpr int32_t kDistanceEntries = 64;
constexpr int32_t kLongLength = 63;  // takes 8 more bits
constexpr int32_t kMaxCodeBits = 16;

constexpr std::array<uint8_t, 256> MakeByteReversals() {
  std::array<uint8_t, 256> table{};
  for (int32_t b = 0; b < 256; ++b) {
    int32_t r = 0;
    for (int32_t i = 0; i < 8; ++i) r |= ((b >> i) & 1) << (7 - i);
    table[b] = static_cast<uint8_t>(r);
  }
  return table;
}
constexpr std::array<uint8_t, 256> kByteReversals = MakeByteReversals();
static_assert(kByteReversals[1] == 0x80 && kByteReversals[0x0F] == 0xF0);

uint16_t Reverse16(uint16_t code) {
  return static_cast<uint16_t>(kByteReversals[code & 0xFF] << 8 | kByteReversals[code >> 8]);
}

struct SortedEntry {
  uint8_t bits;
  uint8_t value;
};

}  // namespace

void BuildShannonFanoTree(const std::vector<uint8_t>& lengths, TAbShannonFanoTree& tree) {
  const int32_t n = static_cast<int32_t>(lengths.size());
  // Sorted by bit length, then by value; a stable pass per length gives the
  // order any correct sort of these unique keys gives.
  std::vector<SortedEntry> sorted;
  sorted.reserve(n);
  for (int32_t bits = 0; bits <= kMaxCodeBits; ++bits) {
    for (int32_t v = 0; v < n; ++v) {
      if (lengths[v] == bits) sorted.push_back({static_cast<uint8_t>(bits), static_cast<uint8_t>(v)});
    }
  }
  // Codes from the last (longest) entry back to the first, 16 bits wide
  // and left-aligned, then reversed because the stream sends them lowest
  // bit first.
  std::vector<uint16_t> codes(sorted.size());
  uint16_t code = 0, step = 0;
  int32_t previous_bits = 0;
  for (int32_t i = static_cast<int32_t>(sorted.size()) - 1; i >= 0; --i) {
    code = static_cast<uint16_t>(code + step);
    codes[i] = Reverse16(code);
    if (sorted[i].bits != previous_bits) {
      previous_bits = sorted[i].bits;
      step = static_cast<uint16_t>(uint32_t{1} << (kMaxCodeBits - previous_bits));
    }
  }
  tree.max_bits = sorted.empty() ? 0 : sorted.back().bits;
  const int32_t slots = 1 << tree.max_bits;
  // A walk that matches nothing runs past the last entry after max_bits
  // bits and gives 0.
  tree.table.assign(slots, static_cast<uint16_t>(tree.max_bits << 8));
  // A walk stops at the shortest length with a matching entry, and there at
  // the first such entry: fill the longest first so shorter codes win, and
  // give each code of one length to its first entry only.
  std::vector<uint8_t> taken(slots, 0);
  for (int32_t bits = tree.max_bits; bits >= 1; --bits) {
    for (size_t i = 0; i < sorted.size(); ++i) {
      if (sorted[i].bits != bits) continue;
      const uint32_t reversed = codes[i];
      // A code with bits beyond its length can never equal what was read.
      if (reversed >= (uint32_t{1} << bits) || taken[reversed] == bits) continue;
      taken[reversed] = static_cast<uint8_t>(bits);
      const uint16_t slot_value = static_cast<uint16_t>(bits << 8 | sorted[i].value);
      for (uint32_t s = reversed; s < static_cast<uint32_t>(slots); s += uint32_t{1} << bits) {
        tree.table[s] = slot_value;
      }
    }
  }
}

void ReadShannonFanoTree(TAbUnzipHelper& h, int32_t entry_count, TAbShannonFanoTree& tree) {
  std::vector<uint8_t> lengths(entry_count, 0);
  const int32_t groups = static_cast<int32_t>(h.ReadBits(8)) + 1;
  int32_t defined = 0;
  for (int32_t g = 0; g < groups; ++g) {
    const uint32_t group = h.ReadBits(8);
    const int32_t count = static_cast<int32_t>(group >> 4) + 1;
    const uint8_t bits = static_cast<uint8_t>((group & 0x0F) + 1);
    if (count > entry_count - defined) {
      throw EAbLegacyDataError(
          Format("Imploded data defines %d entries for a tree of %d",
                 {defined + count, entry_count}));
    }
    std::fill_n(lengths.begin() + defined, count, bits);
    defined += count;
  }
  BuildShannonFanoTree(lengths, tree);
}

namespace {

inline int32_t Decode(TAbUnzipHelper& h, const TAbShannonFanoTree& tree) {
  for (;;) {
    const uint16_t slot = tree.table[h.PeekBits(tree.max_bits)];
    const int32_t bits = slot >> 8;
    // The lookup saw zeros beyond the buffered bits; it holds when the code
    // it found lies within the real ones.
    if (bits <= h.BitsAvailable()) {
      h.SkipBits(bits);
      return slot & 0xFF;
    }
    h.NeedMoreBits();
  }
}

}  // namespace

int32_t DecodeShannonFano(TAbUnzipHelper& h, const TAbShannonFanoTree& tree) {
  return Decode(h, tree);
}

void Explode(TAbUnzipHelper& h, bool dictionary_8k, bool three_trees) {
  const int32_t low_distance_bits = dictionary_8k ? 7 : 6;
  const int32_t min_match = three_trees ? 3 : 2;
  TAbShannonFanoTree literals, lengths, distances;
  if (three_trees) ReadShannonFanoTree(h, kLiteralEntries, literals);
  ReadShannonFanoTree(h, kLengthEntries, lengths);
  ReadShannonFanoTree(h, kDistanceEntries, distances);
  const int64_t size = h.ExpectedSize();
  while (!h.InputEnded() && h.BytesProduced() < size) {
    if (h.ReadBits(1)) {
      const int32_t literal =
          three_trees ? Decode(h, literals) : static_cast<int32_t>(h.ReadBits(8));
      h.WriteByte(static_cast<uint8_t>(literal));
      continue;
    }
    int64_t distance = h.ReadBits(low_distance_bits);
    distance |= int64_t{Decode(h, distances)} << low_distance_bits;
    int32_t length = Decode(h, lengths);
    if (length == kLongLength) length += static_cast<int32_t>(h.ReadBits(8));
    length += min_match;
    h.CopyFromOutput(h.BytesProduced() - distance - 1, length);
  }
}

}  // namespace velmora
