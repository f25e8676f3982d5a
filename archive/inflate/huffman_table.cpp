#include "archive/inflate/huffman_table.h"

#include <array>

#include "archive/inflate/inflate_tables.h"
#include "rtl/exceptions.h"
#include "rtl/format.h"

namespace velmora {

namespace {
constexpr const char* kUnit = "AbDfHufD";
constexpr int32_t kMaxCodeLength = 15;

uint32_t ReverseLow16(uint32_t code) {
  return (static_cast<uint32_t>(kByteReversal[code & 0xFF]) << 8) |
         kByteReversal[(code >> 8) & 0xFF];
}
}  // namespace

TAbDfDecodeHuffmanTree::TAbDfDecodeHuffmanTree(int32_t alphabet_size, TAbHuffmanTreeUsage usage,
                                               int32_t permitted_max_length)
    : alphabet_size_(alphabet_size), permitted_max_length_(permitted_max_length), usage_(usage) {
  Assert(alphabet_size >= 2,
         "TAbDfDecodeHuffmanTree.Create: a huffman tree must be for at least two symbols", kUnit,
         173);
}

void TAbDfDecodeHuffmanTree::Build(const int32_t* lengths, int32_t first_index, int32_t count,
                                   int32_t first_extra_symbol, const uint8_t* extra_bits) {
  std::array<int32_t, kMaxCodeLength + 1> per_length{};
  int32_t longest = 0;
  for (int32_t i = 0; i < count; ++i) {
    int32_t length = lengths[first_index + i];
    if (length < 0 || length > permitted_max_length_ || length > kMaxCodeLength) {
      Assert(false,
             Format("TAbDfDecodeHuffmanTree.Build: a code length is greater than %d",
                    {permitted_max_length_}),
             kUnit, 253);
    }
    ++per_length[length];
    if (length > longest) longest = length;
  }
  lookup_bit_length_ = longest;
  table_.assign(size_t{1} << longest, kEmptyHuffmanEntry);
  index_mask_ = ~static_cast<uint32_t>(table_.size() - 1);

  std::array<uint32_t, kMaxCodeLength + 1> next_code{};
  per_length[0] = 0;
  uint32_t code = 0;
  for (int32_t length = 1; length <= kMaxCodeLength; ++length) {
    code = (code + static_cast<uint32_t>(per_length[length - 1])) << 1;
    next_code[length] = code;
  }
  for (int32_t symbol = 0; symbol < count; ++symbol) {
    int32_t length = lengths[first_index + symbol];
    if (length == 0) continue;
    uint32_t index = ReverseLow16(next_code[length]) >> (16 - length);
    uint32_t extra = symbol >= first_extra_symbol && extra_bits
                         ? extra_bits[symbol - first_extra_symbol]
                         : 0;
    uint32_t entry = static_cast<uint32_t>(symbol) | (static_cast<uint32_t>(length) << 16) |
                     (extra << 24);
    for (size_t at = index; at < table_.size(); at += size_t{1} << length) table_[at] = entry;
    ++next_code[length];
  }
}

void TAbDfDecodeHuffmanTree::DecodeTooManyBits() {
  Assert(false,
         "TAbDfDecodeHuffmanTree.Decode: trying to decode too many bits, use LookupBitLength "
         "property",
         kUnit, 445);
  __builtin_unreachable();  // Assert(false, ...) always throws
}

namespace {
std::array<int32_t, 288> FixedLiteralLengths() {
  std::array<int32_t, 288> lengths{};
  for (int i = 0; i < 288; ++i) lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
  return lengths;
}
}  // namespace

const TAbDfDecodeHuffmanTree& AbFixedLiteralTree() {
  static const TAbDfDecodeHuffmanTree tree = [] {
    TAbDfDecodeHuffmanTree t(288, huBoth, 15);
    auto lengths = FixedLiteralLengths();
    t.Build(lengths.data(), 0, 288, 257, kLengthExtraBits.data());
    return t;
  }();
  return tree;
}

const TAbDfDecodeHuffmanTree& AbFixedDistanceTree() {
  static const TAbDfDecodeHuffmanTree tree = [] {
    TAbDfDecodeHuffmanTree t(32, huBoth, 15);
    std::array<int32_t, 32> lengths;
    lengths.fill(5);
    t.Build(lengths.data(), 0, 32, 0, kDistanceExtraBits.data());
    return t;
  }();
  return tree;
}

}  // namespace velmora
