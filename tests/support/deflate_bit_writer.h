// Builds Deflate bit streams by hand for tests: fields are appended from
// the least significant bit of each byte, as RFC 1951 packs them, and
// Huffman codes most significant bit first.
#pragma once

#include <cstdint>
#include <vector>

namespace velmora::test {

class DeflateBitWriter {
 public:
  // count bits of value, lowest bit first (header fields, extra bits).
  DeflateBitWriter& Bits(uint32_t value, int count);
  // A Huffman code of length bits, its most significant bit first.
  DeflateBitWriter& Code(uint32_t code, int length);
  // Fixed-code literal/length symbol (RFC 1951, 3.2.6).
  DeflateBitWriter& FixedSymbol(int symbol);
  // Fixed-code distance symbol: 5 bits.
  DeflateBitWriter& FixedDistance(int symbol) { return Code(static_cast<uint32_t>(symbol), 5); }
  DeflateBitWriter& AlignToByte();
  DeflateBitWriter& Byte(uint8_t value) { return Bits(value, 8); }
  // The bytes so far, the last one padded with zero bits.
  std::vector<uint8_t> Finish() const;
  int64_t BitCount() const { return bit_count_; }

 private:
  std::vector<uint8_t> bytes_;
  int64_t bit_count_ = 0;
};

// Canonical codes (RFC 1951, 3.2.2) of a list of code lengths.
std::vector<uint32_t> CanonicalCodes(const std::vector<int>& lengths);

// A dynamic block header after BFINAL and BTYPE: HLIT, HDIST and HCLEN from
// the list sizes (HCLEN 19), every code-length code 5 bits long (code =
// the symbol), then each length written as its own code, no repeats.
void WriteDynamicHeader(DeflateBitWriter& w, const std::vector<int>& literal_lengths,
                        const std::vector<int>& distance_lengths);

// Raw Deflate with zlib: level 0 ... 9, strategy Z_DEFAULT_STRATEGY etc.
std::vector<uint8_t> ZlibDeflateRaw(const std::vector<uint8_t>& data, int level,
                                    int strategy = 0);
uint32_t ZlibCrc32(const std::vector<uint8_t>& data);
uint32_t ZlibAdler32(const std::vector<uint8_t>& data);

}  // namespace velmora::test
