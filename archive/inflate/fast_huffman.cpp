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

// What a code of length n adds to its symbol's entry, n times: a literal
// keeps its code length in the bit count only, a length also in bits 25-28,
// the end of block and a distance also in bits 8-11; a rejected symbol
// stays invalid.
using SymbolSteps = std::array<uint32_t, 288>;
constexpr SymbolSteps MakeSymbolSteps(const SymbolBases& bases, FastTableKind kind) {
  SymbolSteps steps{};
  for (int32_t symbol = 0; symbol < 288; ++symbol) {
    if (bases[symbol] == kInvalid) continue;
    if (kind == FastTableKind::kLiteralLength && symbol < 256) {
      steps[symbol] = 1;
    } else if (kind == FastTableKind::kLiteralLength && symbol > 256) {
      steps[symbol] = (1u << kLengthCodeShift) + 1;
    } else {
      steps[symbol] = (1u << 8) + 1;
    }
  }
  return steps;
}
constexpr SymbolSteps kLiteralSteps = MakeSymbolSteps(kLiteralBases, FastTableKind::kLiteralLength);
constexpr SymbolSteps kLiteral64Steps =
    MakeSymbolSteps(kLiteral64Bases, FastTableKind::kLiteralLength);
constexpr SymbolSteps kDistanceSteps = MakeSymbolSteps(kDistanceBases, FastTableKind::kDistance);
constexpr SymbolSteps kDistance64Steps = MakeSymbolSteps(kDistance64Bases, FastTableKind::kDistance);
static_assert(kLiteralBases['a'] + 7 * kLiteralSteps['a'] == Entry('a', kLiteral, 0, 7) - (7u << 8) +
                                                                 (kLiteralTableBits << 8));
static_assert(kDistanceBases[4] + 5 * kDistanceSteps[4] == Entry(5, 0, 1, 5));

const SymbolSteps& StepsFor(FastTableKind kind, bool deflate64) {
  if (kind == FastTableKind::kLiteralLength) return deflate64 ? kLiteral64Steps : kLiteralSteps;
  return deflate64 ? kDistance64Steps : kDistanceSteps;
}

// The code after a code of length bits, both bit-reversed (first bit
// lowest, as the table index takes them): adding one to a code flips its
// trailing ones, here its highest ones. A code one bit longer starts from
// the same reversed value, as the canonical code shifts a zero in below.
// After the all-ones code (the last one of a code space) no code follows;
// the value returned then is not used.
inline uint32_t NextReversedCode(uint32_t reversed, uint32_t length) {
  const uint32_t zeros = reversed ^ ((1u << length) - 1);
  const uint32_t bit = 1u << (31 - __builtin_clz(zeros | 1));
  return (reversed & (bit - 1)) | bit;
}
}  // namespace

namespace {
// The count of codes of each length, the longest length and whether the
// code fills the code space; false when the lengths over-subscribe it.
bool CountLengths(const int32_t* lengths, int32_t count,
                  std::array<int32_t, kMaxCodeLength + 1>& per_length, int32_t& longest,
                  bool& complete) {
  for (int32_t i = 0; i < count; ++i) ++per_length[lengths[i]];
  longest = kMaxCodeLength;
  while (longest > 0 && per_length[longest] == 0) --longest;
  int32_t left = 1;
  for (int32_t length = 1; length <= kMaxCodeLength; ++length) {
    left = 2 * left - per_length[length];
    if (left < 0) return false;
  }
  complete = left == 0;
  return true;
}
}  // namespace

bool BuildFastTable(FastHuffmanTable& table, const int32_t* lengths, int32_t count,
                    FastTableKind kind, bool deflate64) {
  std::array<int32_t, kMaxCodeLength + 1> per_length{};
  int32_t longest = 0;
  bool complete = false;
  if (!CountLengths(lengths, count, per_length, longest, complete)) return false;
  const uint32_t main_bits =
      kind == FastTableKind::kLiteralLength ? kLiteralTableBits : kDistanceTableBits;
  const uint32_t main_size = 1u << main_bits;
  table.main_bits = main_bits;
  table.main_mask = main_size - 1;
  table.max_length = longest;

  // The symbols in the order of their canonical codes (RFC 1951, 3.2.2):
  // by code length, and within a length by symbol; those without a code
  // (length 0) come first and are skipped.
  std::array<int32_t, kMaxCodeLength + 1> offsets;
  offsets[0] = 0;
  for (int32_t length = 1; length <= kMaxCodeLength; ++length)
    offsets[length] = offsets[length - 1] + per_length[length - 1];
  std::array<uint16_t, 288> sorted;
  for (int32_t symbol = 0; symbol < count; ++symbol)
    sorted[offsets[lengths[symbol]]++] = static_cast<uint16_t>(symbol);
  const uint16_t* next = sorted.data() + per_length[0];
  const SymbolBases& bases = BasesFor(kind, deflate64);
  const SymbolSteps& steps = StepsFor(kind, deflate64);
  auto entry_of = [&](uint32_t symbol, uint32_t length) {
    return bases[symbol] + length * steps[symbol];
  };

  // The main table's size is known before the subtables': its codes are
  // written first, and the longer codes' prefixes are left for the links.
  table.entries.Resize(main_size);
  uint32_t* entries = table.entries.data();
  uint32_t reversed = 0;
  const uint32_t main_longest = std::min<uint32_t>(static_cast<uint32_t>(longest), main_bits);
  if (complete) {
    // The entries of each length go into the first 2^length slots, which
    // are then doubled for the next length (a reversed code of n bits
    // repeats every 2^n slots), so every slot is written by a block copy
    // rather than one by one.
    for (uint32_t length = 1; length <= main_bits; ++length) {
      if (length > 1) std::memcpy(entries + (1u << (length - 1)), entries, sizeof(uint32_t) << (length - 1));
      for (int32_t n = per_length[length]; n > 0; --n) {
        entries[reversed] = entry_of(*next++, length);
        reversed = NextReversedCode(reversed, length);
      }
    }
  } else {
    // Slots no code reaches stay invalid.
    std::fill_n(entries, main_size, kInvalid);
    for (uint32_t length = 1; length <= main_longest; ++length) {
      for (int32_t n = per_length[length]; n > 0; --n) {
        const uint32_t entry = entry_of(*next++, length);
        for (uint32_t at = reversed; at < main_size; at += 1u << length) entries[at] = entry;
        reversed = NextReversedCode(reversed, length);
      }
    }
  }
  if (static_cast<uint32_t>(longest) <= main_bits) return true;

  // The longer codes, in code order: each main prefix's codes follow one
  // another, and its subtable is sized by the longest of them, the last.
  const uint16_t* const long_begin = next;
  const uint32_t first_long_reversed = reversed;
  std::array<uint8_t, 1u << kLiteralTableBits> sub_bits;  // 0: no subtable yet
  std::array<uint16_t, 288> long_prefixes;
  int32_t long_prefix_count = 0;
  size_t total = main_size;
  for (uint32_t length = main_bits + 1; length <= static_cast<uint32_t>(longest); ++length) {
    for (int32_t n = per_length[length]; n > 0; --n) {
      const uint32_t prefix = reversed & (main_size - 1);
      if (long_prefix_count == 0 || long_prefixes[long_prefix_count - 1] != prefix)
        long_prefixes[long_prefix_count++] = static_cast<uint16_t>(prefix);
      sub_bits[prefix] = static_cast<uint8_t>(length - main_bits);
      reversed = NextReversedCode(reversed, length);
    }
  }
  for (int32_t i = 0; i < long_prefix_count; ++i) total += size_t{1} << sub_bits[long_prefixes[i]];
  table.entries.Resize(total);
  entries = table.entries.data();
  uint32_t offset = main_size;
  for (int32_t i = 0; i < long_prefix_count; ++i) {
    const uint32_t prefix = long_prefixes[i];
    entries[prefix] = LinkEntry(offset, sub_bits[prefix], main_bits);
    std::fill_n(entries + offset, size_t{1} << sub_bits[prefix], kInvalid);
    offset += 1u << sub_bits[prefix];
  }
  next = long_begin;
  reversed = first_long_reversed;
  for (uint32_t length = main_bits + 1; length <= static_cast<uint32_t>(longest); ++length) {
    for (int32_t n = per_length[length]; n > 0; --n) {
      const uint32_t link = entries[reversed & (main_size - 1)];
      const uint32_t size = 1u << SubtableBits(link);
      const uint32_t entry = entry_of(*next++, length);
      for (uint32_t at = reversed >> main_bits; at < size; at += 1u << (length - main_bits))
        entries[Value(link) + at] = entry;
      reversed = NextReversedCode(reversed, length);
    }
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
