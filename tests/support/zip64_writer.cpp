#include "tests/support/zip64_writer.h"

#include <zlib.h>

#include <stdexcept>

#include "tests/support/zip_writer.h"

namespace velmora::testing {

namespace {

constexpr uint32_t kMarker32 = 0xFFFFFFFF;
constexpr uint16_t kMarker16 = 0xFFFF;
constexpr uint16_t kVersion45 = 45;

void PutN(std::vector<uint8_t>& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put16(std::vector<uint8_t>& out, uint64_t v) { PutN(out, v, 2); }
void Put32(std::vector<uint8_t>& out, uint64_t v) { PutN(out, v, 4); }
void Put64(std::vector<uint8_t>& out, uint64_t v) { PutN(out, v, 8); }
void PutText(std::vector<uint8_t>& out, const std::string& text) {
  out.insert(out.end(), text.begin(), text.end());
}

// A ZIP64 extra block holding the given values in order.
std::string Zip64Block(std::initializer_list<uint64_t> values) {
  std::vector<uint8_t> out;
  Put16(out, 0x0001);
  Put16(out, 8 * values.size());
  for (uint64_t v : values) Put64(out, v);
  return std::string(out.begin(), out.end());
}

// Raw deflate of size zero bytes, ending with a full flush (not final).
std::vector<uint8_t> DeflateZeros(z_stream& z, size_t size, int flush) {
  std::vector<uint8_t> in(size, 0), out(size / 2 + 1024);
  z.next_in = in.data();
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  int rc = deflate(&z, flush);
  if (z.avail_in != 0 || (rc != Z_OK && rc != Z_STREAM_END)) throw std::runtime_error("deflate");
  out.resize(out.size() - z.avail_out);
  return out;
}

}  // namespace

Zip64Entry StoredEntry64(const std::string& name, const std::vector<uint8_t>& data) {
  return {.name = name, .packed = data, .unpacked_size = data.size(), .crc = Crc32Of(data)};
}

Zip64Entry DeflatedEntry64(const std::string& name, const std::vector<uint8_t>& data) {
  return {.name = name,
          .packed = DeflateRaw(data),
          .unpacked_size = data.size(),
          .crc = Crc32Of(data),
          .method = 8};
}

Zip64Entry ZerosEntry64(const std::string& name, uint64_t count) {
  constexpr size_t kChunk = 1 << 20;
  z_stream z{};
  if (deflateInit2(&z, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2");
  }
  Zip64Entry entry{.name = name, .unpacked_size = count, .method = 8};
  const uint64_t chunks = count / kChunk;
  std::vector<uint8_t> first = DeflateZeros(z, kChunk, Z_FULL_FLUSH);
  std::vector<uint8_t> repeat = DeflateZeros(z, kChunk, Z_FULL_FLUSH);
  if (chunks > 0) entry.packed = first;
  for (uint64_t i = 1; i < chunks; ++i) {
    entry.packed.insert(entry.packed.end(), repeat.begin(), repeat.end());
  }
  std::vector<uint8_t> tail = DeflateZeros(z, count % kChunk, Z_FINISH);
  entry.packed.insert(entry.packed.end(), tail.begin(), tail.end());
  deflateEnd(&z);
  // The two flushed chunks must agree, or the repetition is not a stream.
  if (first != repeat) throw std::runtime_error("zlib's flushed chunks differ");
  const std::vector<uint8_t> zeros(kChunk, 0);
  const uLong chunk_crc = crc32(0, zeros.data(), kChunk);
  uLong crc = 0;
  for (uint64_t i = 0; i < chunks; ++i) crc = crc32_combine64(crc, chunk_crc, kChunk);
  entry.crc = static_cast<uint32_t>(
      crc32_combine64(crc, crc32(0, zeros.data(), static_cast<uInt>(count % kChunk)),
                      static_cast<z_off64_t>(count % kChunk)));
  return entry;
}

Zip64Image BuildZip64(const std::vector<Zip64Entry>& entries, const Zip64Options& options) {
  Zip64Image image;
  std::vector<uint8_t>& out = image.bytes;
  out = options.stub;
  const uint64_t base = options.absolute_offsets ? 0 : options.stub.size();
  for (const Zip64Entry& e : entries) {
    image.local_header_positions.push_back(out.size());
    const std::string extra = Zip64Block({e.unpacked_size, e.packed.size()});
    Put32(out, 0x04034B50);
    Put16(out, kVersion45);
    Put16(out, e.flags);
    Put16(out, e.method);
    Put16(out, kZipTestDosTime);
    Put16(out, kZipTestDosDate);
    Put32(out, e.crc);
    Put32(out, kMarker32);
    Put32(out, kMarker32);
    Put16(out, e.name.size());
    Put16(out, extra.size());
    PutText(out, e.name);
    PutText(out, extra);
    out.insert(out.end(), e.packed.begin(), e.packed.end());
  }
  image.directory_position = out.size();
  for (size_t i = 0; i < entries.size(); ++i) {
    const Zip64Entry& e = entries[i];
    const std::string extra =
        Zip64Block({e.unpacked_size, e.packed.size(), image.local_header_positions[i] - base}) +
        e.central_extra;
    Put32(out, 0x02014B50);
    Put16(out, (3 << 8) | kVersion45);
    Put16(out, kVersion45);
    Put16(out, e.flags);
    Put16(out, e.method);
    Put16(out, kZipTestDosTime);
    Put16(out, kZipTestDosDate);
    Put32(out, e.crc);
    Put32(out, kMarker32);
    Put32(out, kMarker32);
    Put16(out, e.name.size());
    Put16(out, extra.size());
    Put16(out, 0);           // comment
    Put16(out, 0);           // disk
    Put16(out, 0);           // internal attributes
    Put32(out, 0x81A40000);  // -rw-r--r--
    Put32(out, kMarker32);
    PutText(out, e.name);
    PutText(out, extra);
  }
  const uint64_t directory_size = out.size() - image.directory_position;
  const uint64_t directory_offset = image.directory_position - base;
  image.zip64_end_position = out.size();
  Put32(out, 0x06064B50);
  Put64(out, 44);  // the record's size behind this field
  Put16(out, (3 << 8) | kVersion45);
  Put16(out, kVersion45);
  Put32(out, 0);
  Put32(out, 0);
  Put64(out, entries.size());
  Put64(out, entries.size());
  Put64(out, directory_size);
  Put64(out, directory_offset);
  image.locator_position = out.size();
  Put32(out, 0x07064B50);
  Put32(out, 0);
  Put64(out, image.zip64_end_position - base);
  Put32(out, 1);
  image.end_record_position = out.size();
  const bool markers = options.markers_in_end_record;
  Put32(out, 0x06054B50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, markers ? kMarker16 : entries.size());
  Put16(out, markers ? kMarker16 : entries.size());
  Put32(out, markers ? kMarker32 : directory_size);
  Put32(out, markers ? kMarker32 : directory_offset);
  Put16(out, options.archive_comment.size());
  PutText(out, options.archive_comment);
  return image;
}

}  // namespace velmora::testing
