// The decode tables the Inflate hot loop uses: a main table indexed by the
// next main_bits bits and, for longer codes, small subtables, so the tables
// stay in the first-level cache and are cheap to build per block. They
// decode exactly what TAbDfDecodeHuffmanTree decodes for a code that is not
// over-subscribed (which the decoder rejects).
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>

namespace velmora {

// Entry, laid out for the hot loop: bits 0-7 the bits a symbol takes (code
// length plus extra bits), so that one shift of the bit buffer by the entry
// consumes it (shifts use the low six bits, and a count kept in a byte may
// carry the entry's higher bits as garbage). In a literal or length entry,
// bits 8-15 hold the index bits of the table looked up next (the literal or
// the distance table), so that the low 16 bits are the control of a
// bit-field extract (BEXTR) that cuts the next index from the bit buffer
// before this symbol's bits are consumed. Bit 31 marks a literal, whose
// value takes bits 16-23; a length takes its base from bits 16-24 and its
// code length from bits 25-28. A distance entry holds its code length in
// bits 8-11 and its base in bits 16-31; the extra value is the saved bit
// buffer cut to the low byte's count and shifted down by the code length.
// Bits 13-15 flag the exceptional entries; a subtable link holds its
// offset in bits 16-31, the subtable's index bits in bits 8-11 and
// main_bits below.
namespace fast_entry {
constexpr uint32_t kLiteral = 1u << 31;
constexpr uint32_t kExceptional = 1u << 14;  // end of block, link or no code
constexpr uint32_t kSubtable = 1u << 15;
// No code reaches it, or its symbol is rejected (286, 287; distance 30 and
// 31 in Deflate). The end of block is the exceptional entry with value 1.
constexpr uint32_t kInvalid = kExceptional;
constexpr uint32_t kEndOfBlockValue = 1;
constexpr uint32_t kLengthCodeShift = 25;
inline uint32_t TotalBits(uint32_t e) { return e & 0xFF; }
inline uint32_t CodeLength(uint32_t e) { return (e >> 8) & 15; }
inline uint32_t SubtableBits(uint32_t e) { return CodeLength(e); }
inline uint32_t Value(uint32_t e) { return e >> 16; }
inline uint8_t LiteralOf(uint32_t e) { return static_cast<uint8_t>(e >> 16); }
inline uint32_t LengthBase(uint32_t e) { return (e >> 16) & 0x1FF; }
inline uint32_t LengthCodeLength(uint32_t e) { return (e >> kLengthCodeShift) & 15; }
inline bool IsEndOfBlock(uint32_t e) { return Value(e) == kEndOfBlockValue; }
// The length or distance of an entry, from the bit buffer as it was before
// the entry's bits were consumed.
inline uint32_t LengthValue(uint64_t saved_bitbuf, uint32_t e) {
  return LengthBase(e) + static_cast<uint32_t>((saved_bitbuf & ((uint64_t{1} << TotalBits(e)) - 1)) >>
                                               LengthCodeLength(e));
}
inline uint32_t DistanceValue(uint64_t saved_bitbuf, uint32_t e) {
  return Value(e) + static_cast<uint32_t>((saved_bitbuf & ((uint64_t{1} << TotalBits(e)) - 1)) >>
                                          CodeLength(e));
}
}  // namespace fast_entry

enum class FastTableKind { kLiteralLength, kDistance };

// Main table index bits: 2^11 literal/length entries (8 KiB) and 2^8
// distance entries cover nearly every code in practice. They are fixed,
// whatever the longest code, so that the hot loop masks with constants.
constexpr uint32_t kLiteralTableBits = 11;
constexpr uint32_t kDistanceTableBits = 8;

// The entries of one table, in memory kept from one build to the next and
// never cleared: a build writes every entry a lookup can reach, so the
// memory of many small items' tables is neither zeroed nor given back.
class TableEntries {
 public:
  uint32_t* data() { return storage_.get(); }
  const uint32_t* data() const { return storage_.get(); }
  size_t size() const { return size_; }
  uint32_t& operator[](size_t i) { return storage_[i]; }
  const uint32_t& operator[](size_t i) const { return storage_[i]; }
  // Entries beyond the old size hold whatever they held.
  void Resize(size_t size) {
    if (size > capacity_) {
      auto grown = std::make_unique_for_overwrite<uint32_t[]>(size);
      std::copy_n(storage_.get(), size_, grown.get());
      storage_ = std::move(grown);
      capacity_ = size;
    }
    size_ = size;
  }

 private:
  std::unique_ptr<uint32_t[]> storage_;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

struct FastHuffmanTable {
  TableEntries entries;
  uint32_t main_bits = 0;
  uint64_t main_mask = 0;
  // The longest code length: what TAbDfDecodeHuffmanTree calls
  // LookupBitLength, and what the decoder's peeks are sized by.
  int32_t max_length = 0;

  // Looks up the entry for the next bits, following a subtable link.
  uint32_t Lookup(uint64_t bits) const {
    uint32_t e = entries[bits & main_mask];
    if (e & fast_entry::kSubtable) {
      e = entries[fast_entry::Value(e) +
                  ((bits >> main_bits) & ((uint64_t{1} << fast_entry::SubtableBits(e)) - 1))];
    }
    return e;
  }
};

// Builds from count lengths (each 0 ... 15). Returns false, leaving table
// unusable, when the lengths over-subscribe the code space.
bool BuildFastTable(FastHuffmanTable& table, const int32_t* lengths, int32_t count,
                    FastTableKind kind, bool deflate64);

// The fixed codes (RFC 1951, 3.2.6) in this form, built once.
const FastHuffmanTable& FixedFastLiteralTable(bool deflate64);
const FastHuffmanTable& FixedFastDistanceTable(bool deflate64);

}  // namespace velmora
