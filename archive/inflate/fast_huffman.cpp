#include "archive/inflate/fast_huffman.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "archive/inflate/inflate_tables.h"

namespace velmora {

namespace {
using namespace fast_entry;

constexpr int32_t kMaxCodeLength = 15;

constexpr uint32_t Entry(uint32_t value, uint32_t flags, uint32_t extra, uint32_t length) {
  return (value << 16) | flags | (length << 8) | (length + extra);
}
// A length's entry before its code length is added (see SymbolEntry).
constexpr uint32_t LengthEntry(uint32_t base, uint32_t extra) {
  return (base << 16) | (kDistanceTableBits << 8) | extra;
}
uint32_t LinkEntry(uint32_t offset, uint32_t sub_bits, uint32_t main_bits) {
  return (offset << 16) | kExceptional | kSubtable | (sub_bits << 8) | main_bits;
}

// Each symbol's entry for a code length of 0: a code of length n adds n to
// both the code length and the bit count.
constexpr uint32_t SymbolBase(int32_t symbol, FastTableKind kind, bool deflate64) {
  if (kind == FastTableKind::kLiteralLength) {
    if (symbol < 256) return (static_cast<uint32_t>(symbol) << 16) | kLiteral | (kLiteralTableBits << 8);
    if (symbol == 256) return Entry(kEndOfBlockValue, kExceptional, 0, 0);
    if (symbol > 285) return kInvalid;
    // Symbol 285 is a plain 258 in Deflate, 3 + 16 extra bits in Deflate64.
    if (symbol == 285 && !deflate64) return LengthEntry(kDeflateMaxMatch, 0);
    return LengthEntry(kLengthBase[symbol - 257], kLengthExtraBits[symbol - 257]);
  }
  if (symbol >= 30 && !deflate64) return kInvalid;
  return Entry(kDistanceBase[symbol], 0, kDistanceExtraBits[symbol], 0);
}

using SymbolBases = std::array<uint32_t, 288>;
constexpr SymbolBases MakeSymbolBases(FastTableKind kind, bool deflate64) {
  SymbolBases bases{};
  const int32_t count = kind == FastTableKind::kLiteralLength ? 288 : 32;
  for (int32_t symbol = 0; symbol < count; ++symbol)
    bases[symbol] = SymbolBase(symbol, kind, deflate64);
  return bases;
}
constexpr SymbolBases kLiteralBases = MakeSymbolBases(FastTableKind::kLiteralLength, false);
constexpr SymbolBases kLiteral64Bases = MakeSymbolBases(FastTableKind::kLiteralLength, true);
constexpr SymbolBases kDistanceBases = MakeSymbolBases(FastTableKind::kDistance, false);
constexpr SymbolBases kDistance64Bases = MakeSymbolBases(FastTableKind::kDistance, true);
static_assert(kLiteralBases[285] == LengthEntry(258, 0) && kLiteral64Bases[285] == LengthEntry(3, 16));
static_assert(kDistanceBases[30] == kInvalid && kDistance64Bases[31] == Entry(49153, 0, 14, 0));

const SymbolBases& BasesFor(FastTableKind kind, bool deflate64) {
  if (kind == FastTableKind::kLiteralLength) return deflate64 ? kLiteral64Bases : kLiteralBases;
  return deflate64 ? kDistance64Bases : kDistanceBases;
}

// literals: whether this is the literal/length table, whose literals and
// lengths keep the code length elsewhere than in the second byte.
inline uint32_t SymbolEntry(const SymbolBases& bases, int32_t symbol, uint32_t length,
                            bool literals) {
  const uint32_t base = bases[symbol];
  if (base == kInvalid) return kInvalid;
  if (literals && symbol < 256) return base + length;
  if (literals && symbol > 256) return base + (length << kLengthCodeShift) + length;
  return base + (length << 8) + length;
}

uint32_t ReverseBits(uint32_t code, uint32_t length) {
  uint32_t r16 = (static_cast<uint32_t>(kByteReversal[code & 0xFF]) << 8) |
                 kByteReversal[(code >> 8) & 0xFF];
  return r16 >> (16 - length);
}
}  // namespace

namespace {
// The first canonical code of each length (RFC 1951, 3.2.2), the longest
// length and whether the code fills the code space; false when the lengths
// over-subscribe it.
bool CanonicalStarts(const int32_t* lengths, int32_t count,
                     std::array<int32_t, kMaxCodeLength + 1>& per_length,
                     std::array<uint32_t, kMaxCodeLength + 1>& next_code, int32_t& longest,
                     bool& complete) {
  longest = 0;
  for (int32_t i = 0; i < count; ++i) {
    ++per_length[lengths[i]];
    longest = std::max(longest, lengths[i]);
  }
  per_length[0] = 0;
  int32_t left = 1;
  for (int32_t length = 1; length <= kMaxCodeLength; ++length) {
    left = 2 * left - per_length[length];
    if (left < 0) return false;
  }
  complete = left == 0;
  uint32_t code = 0;
  for (int32_t length = 1; length <= kMaxCodeLength; ++length) {
    code = (code + static_cast<uint32_t>(per_length[length - 1])) << 1;
    next_code[length] = code;
  }
  return true;
}

// A code's slot in its table and its entry.
struct Placed {
  uint32_t reversed;
  uint32_t entry;
};

// Fills a main table of a complete code from its codes of up to main_bits
// bits, ordered by length: the entries of each length go into the first
// 2^length slots, which are then doubled for the next length (a reversed
// code of n bits repeats every 2^n slots), so every slot is written by a
// block copy rather than one by one. Slots of longer codes' prefixes are
// left for their links.
void FillCompleteMain(uint32_t* main, uint32_t main_bits, const Placed* placed,
                      const std::array<int32_t, kMaxCodeLength + 1>& per_length) {
  for (uint32_t length = 1; length <= main_bits; ++length) {
    if (length > 1) std::memcpy(main + (1u << (length - 1)), main, sizeof(uint32_t) << (length - 1));
    for (int32_t n = per_length[length]; n > 0; --n, ++placed) main[placed->reversed] = placed->entry;
  }
}
}  // namespace

bool BuildFastTable(FastHuffmanTable& table, const int32_t* lengths, int32_t count,
                    FastTableKind kind, bool deflate64) {
  std::array<int32_t, kMaxCodeLength + 1> per_length{};
  std::array<uint32_t, kMaxCodeLength + 1> next_code{};
  int32_t longest = 0;
  bool complete = false;
  if (!CanonicalStarts(lengths, count, per_length, next_code, longest, complete)) return false;
  const uint32_t main_bits =
      kind == FastTableKind::kLiteralLength ? kLiteralTableBits : kDistanceTableBits;
  const uint32_t main_size = 1u << main_bits;
  table.main_bits = main_bits;
  table.main_mask = main_size - 1;
  table.max_length = longest;
  const SymbolBases& bases = BasesFor(kind, deflate64);

  // One pass over the symbols: the codes of up to main_bits bits in length
  // order (and within a length in symbol order), the longer ones apart, and
  // for each main prefix of a longer code the longest code below it, which
  // sizes that prefix's subtable.
  std::array<int32_t, kMaxCodeLength + 2> offsets{};
  for (uint32_t length = 1; length <= main_bits; ++length)
    offsets[length + 1] = offsets[length] + per_length[length];
  std::array<Placed, 288> placed;
  std::array<Placed, 288> long_codes;
  std::array<uint8_t, 288> long_lengths;
  int32_t long_count = 0;
  std::array<uint8_t, 1u << kLiteralTableBits> sub_bits;  // 0: no subtable yet
  if (static_cast<uint32_t>(longest) > main_bits) std::fill_n(sub_bits.begin(), main_size, 0);
  std::array<uint16_t, 288> long_prefixes;  // main prefixes of longer codes
  int32_t long_prefix_count = 0;
  for (int32_t symbol = 0; symbol < count; ++symbol) {
    const uint32_t length = static_cast<uint32_t>(lengths[symbol]);
    if (length == 0) continue;
    const uint32_t reversed = ReverseBits(next_code[length]++, length);
    const uint32_t entry =
        SymbolEntry(bases, symbol, length, kind == FastTableKind::kLiteralLength);
    if (length <= main_bits) {
      placed[offsets[length]++] = {reversed, entry};
      continue;
    }
    long_lengths[long_count] = static_cast<uint8_t>(length);
    long_codes[long_count++] = {reversed, entry};
    const uint32_t prefix = reversed & (main_size - 1);
    if (sub_bits[prefix] == 0) long_prefixes[long_prefix_count++] = static_cast<uint16_t>(prefix);
    sub_bits[prefix] = static_cast<uint8_t>(std::max<uint32_t>(sub_bits[prefix], length - main_bits));
  }
  size_t total = main_size;
  for (int32_t i = 0; i < long_prefix_count; ++i) total += size_t{1} << sub_bits[long_prefixes[i]];
  table.entries.Resize(total);
  uint32_t* const entries = table.entries.data();
  if (complete) {
    FillCompleteMain(entries, main_bits, placed.data(), per_length);
  } else {
    // Slots no code reaches stay invalid.
    std::fill_n(entries, main_size, kInvalid);
    for (uint32_t length = 1, next = 0; length <= main_bits; ++length) {
      for (int32_t n = per_length[length]; n > 0; --n, ++next) {
        for (uint32_t at = placed[next].reversed; at < main_size; at += 1u << length)
          entries[at] = placed[next].entry;
      }
    }
  }
  uint32_t offset = main_size;
  for (int32_t i = 0; i < long_prefix_count; ++i) {
    const uint32_t prefix = long_prefixes[i];
    entries[prefix] = LinkEntry(offset, sub_bits[prefix], main_bits);
    std::fill_n(entries + offset, size_t{1} << sub_bits[prefix], kInvalid);
    offset += 1u << sub_bits[prefix];
  }
  for (int32_t i = 0; i < long_count; ++i) {
    const uint32_t r = long_codes[i].reversed;
    const uint32_t link = entries[r & (main_size - 1)];
    const uint32_t size = 1u << SubtableBits(link);
    for (uint32_t at = r >> main_bits; at < size; at += 1u << (long_lengths[i] - main_bits))
      entries[Value(link) + at] = long_codes[i].entry;
  }
  return true;
}

namespace {
FastHuffmanTable MakeFixed(FastTableKind kind, bool deflate64) {
  std::array<int32_t, 288> lengths{};
  int32_t count = 32;
  if (kind == FastTableKind::kLiteralLength) {
    count = 288;
    for (int i = 0; i < 288; ++i) lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
  } else {
    std::fill_n(lengths.begin(), 32, 5);
  }
  FastHuffmanTable table;
  BuildFastTable(table, lengths.data(), count, kind, deflate64);
  return table;
}
}  // namespace

const FastHuffmanTable& FixedFastLiteralTable(bool deflate64) {
  static const FastHuffmanTable plain = MakeFixed(FastTableKind::kLiteralLength, false);
  static const FastHuffmanTable wide = MakeFixed(FastTableKind::kLiteralLength, true);
  return deflate64 ? wide : plain;
}

const FastHuffmanTable& FixedFastDistanceTable(bool deflate64) {
  static const FastHuffmanTable plain = MakeFixed(FastTableKind::kDistance, false);
  static const FastHuffmanTable wide = MakeFixed(FastTableKind::kDistance, true);
  return deflate64 ? wide : plain;
}

}  // namespace velmora
