#include "tests/support/deflate_bit_writer.h"

#include <zlib.h>

#include <stdexcept>

namespace velmora::test {

DeflateBitWriter& DeflateBitWriter::Bits(uint32_t value, int count) {
  for (int i = 0; i < count; ++i) {
    if (bit_count_ % 8 == 0) bytes_.push_back(0);
    if ((value >> i) & 1) bytes_.back() |= static_cast<uint8_t>(1u << (bit_count_ % 8));
    ++bit_count_;
  }
  return *this;
}

DeflateBitWriter& DeflateBitWriter::Code(uint32_t code, int length) {
  for (int i = length - 1; i >= 0; --i) Bits((code >> i) & 1, 1);
  return *this;
}

DeflateBitWriter& DeflateBitWriter::FixedSymbol(int symbol) {
  if (symbol < 144) return Code(0x30 + static_cast<uint32_t>(symbol), 8);
  if (symbol < 256) return Code(0x190 + static_cast<uint32_t>(symbol - 144), 9);
  if (symbol < 280) return Code(static_cast<uint32_t>(symbol - 256), 7);
  return Code(0xC0 + static_cast<uint32_t>(symbol - 280), 8);
}

DeflateBitWriter& DeflateBitWriter::AlignToByte() {
  while (bit_count_ % 8 != 0) Bits(0, 1);
  return *this;
}

std::vector<uint8_t> DeflateBitWriter::Finish() const { return bytes_; }

std::vector<uint32_t> CanonicalCodes(const std::vector<int>& lengths) {
  int per_length[16] = {};
  for (int l : lengths) ++per_length[l];
  per_length[0] = 0;
  uint32_t next[16] = {};
  uint32_t code = 0;
  for (int l = 1; l < 16; ++l) {
    code = (code + static_cast<uint32_t>(per_length[l - 1])) << 1;
    next[l] = code;
  }
  std::vector<uint32_t> codes(lengths.size());
  for (size_t i = 0; i < lengths.size(); ++i)
    if (lengths[i] != 0) codes[i] = next[lengths[i]]++;
  return codes;
}

void WriteDynamicHeader(DeflateBitWriter& w, const std::vector<int>& literal_lengths,
                        const std::vector<int>& distance_lengths) {
  w.Bits(static_cast<uint32_t>(literal_lengths.size() - 257), 5);  // HLIT
  w.Bits(static_cast<uint32_t>(distance_lengths.size() - 1), 5);   // HDIST
  w.Bits(19 - 4, 4);                                                // HCLEN
  for (int i = 0; i < 19; ++i) w.Bits(5, 3);  // all 19 code-length codes 5 bits long
  // With 19 codes of length 5, symbol s has the code s.
  for (int l : literal_lengths) w.Code(static_cast<uint32_t>(l), 5);
  for (int l : distance_lengths) w.Code(static_cast<uint32_t>(l), 5);
}

std::vector<uint8_t> ZlibDeflateRaw(const std::vector<uint8_t>& data, int level, int strategy) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, -15, 9, strategy) != Z_OK)
    throw std::runtime_error("deflateInit2");
  std::vector<uint8_t> out(deflateBound(&z, data.size()) + 16);
  z.next_in = const_cast<uint8_t*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

uint32_t ZlibCrc32(const std::vector<uint8_t>& data) {
  return static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
}

uint32_t ZlibAdler32(const std::vector<uint8_t>& data) {
  return static_cast<uint32_t>(adler32(1, data.data(), static_cast<uInt>(data.size())));
}

}  // namespace velmora::test
