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
