// TAbDfDecodeHuffmanTree: a list of code lengths turned into a single-level
// lookup table. One lookup with the next LookupBitLength bits yields the
// symbol, its code length and the count of extra bits that follow it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmora {

enum TAbHuffmanTreeUsage : uint8_t { huEncoding, huDecoding, huBoth };

// Entry layout: symbol in bits 0-15, code length in 16-23, extra bits in
// 24-31. An entry no code reaches holds all ones (symbol 65535), which every
// user rejects as above its alphabet.
constexpr uint32_t kEmptyHuffmanEntry = 0xFFFFFFFFu;

class TAbDfDecodeHuffmanTree {
 public:
  TAbDfDecodeHuffmanTree(int32_t alphabet_size, TAbHuffmanTreeUsage usage,
                         int32_t permitted_max_length);

  // Symbol i takes its length from lengths[first_index + i]; symbols from
  // first_extra_symbol on take their extra-bit count from
  // extra_bits[i - first_extra_symbol] (extra_bits may be null when no
  // symbol reaches it). Codes are canonical (RFC 1951, 3.2.2); over-
  // subscribed lengths make later symbols overwrite earlier ones.
  void Build(const int32_t* lengths, int32_t first_index, int32_t count,
             int32_t first_extra_symbol, const uint8_t* extra_bits);
  // index: the peeked bits masked to LookupBitLength bits. Inline: a
  // dynamic block header decodes every code length through it.
  uint32_t Decode(uint32_t index) const {
    if ((index & index_mask_) != 0) DecodeTooManyBits();
    return table_[index];
  }

  // The 2^LookupBitLength entries Decode looks up, for a loop that masks
  // its index itself.
  const uint32_t* Entries() const { return table_.data(); }
  int32_t LookupBitLength() const { return lookup_bit_length_; }
  int32_t AlphabetSize() const { return alphabet_size_; }
  size_t TableSize() const { return table_.size(); }

 private:
  [[noreturn]] static void DecodeTooManyBits();

  int32_t alphabet_size_;
  std::vector<uint32_t> table_;
  int32_t permitted_max_length_;
  uint32_t index_mask_ = 0;
  int32_t lookup_bit_length_ = 0;
  TAbHuffmanTreeUsage usage_;
};

// The fixed codes of RFC 1951, 3.2.6, built once and shared read-only.
const TAbDfDecodeHuffmanTree& AbFixedLiteralTree();
const TAbDfDecodeHuffmanTree& AbFixedDistanceTree();

}  // namespace velmora
