#include "tests/support/zip_writer.h"

#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace velmora::testing {

namespace {

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

void PutText(std::vector<uint8_t>& out, const std::string& text) {
  out.insert(out.end(), text.begin(), text.end());
}

void Patch32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// An entry's data as stored, with the values its headers carry.
struct PackedEntry {
  std::vector<uint8_t> data;
  uint32_t crc = 0;
};

PackedEntry Pack(const ZipWriterEntry& e) {
  PackedEntry p;
  p.data = e.method == 8 ? DeflateRaw(e.data) : e.data;
  p.crc = e.crc.value_or(Crc32Of(e.data));
  return p;
}

std::vector<uint8_t> LocalHeader(const ZipWriterEntry& e, const PackedEntry& p) {
  std::vector<uint8_t> out;
  const std::string& name = e.local_name ? *e.local_name : e.name;
  Put32(out, 0x04034B50);
  Put16(out, e.version_needed);
  Put16(out, e.flags);
  Put16(out, e.method);
  Put16(out, e.dos_time);
  Put16(out, e.dos_date);
  Put32(out, p.crc);
  Put32(out, static_cast<uint32_t>(p.data.size()));
  Put32(out, static_cast<uint32_t>(e.data.size()));
  Put16(out, static_cast<uint32_t>(name.size()));
  Put16(out, static_cast<uint32_t>(e.local_extra.size()));
  PutText(out, name);
  PutText(out, e.local_extra);
  return out;
}

std::vector<uint8_t> CentralHeader(const ZipWriterEntry& e, const PackedEntry& p, uint16_t disk,
                                   uint32_t offset) {
  std::vector<uint8_t> out;
  Put32(out, 0x02014B50);
  Put16(out, e.version_made_by);
  Put16(out, e.version_needed);
  Put16(out, e.flags);
  Put16(out, e.method);
  Put16(out, e.dos_time);
  Put16(out, e.dos_date);
  Put32(out, p.crc);
  Put32(out, static_cast<uint32_t>(p.data.size()));
  Put32(out, static_cast<uint32_t>(e.data.size()));
  Put16(out, static_cast<uint32_t>(e.name.size()));
  Put16(out, static_cast<uint32_t>(e.central_extra.size()));
  Put16(out, static_cast<uint32_t>(e.comment.size()));
  Put16(out, e.disk_number_start.value_or(disk));
  Put16(out, e.internal_attributes);
  Put32(out, e.external_attributes);
  Put32(out, offset);
  PutText(out, e.name);
  PutText(out, e.central_extra);
  PutText(out, e.comment);
  return out;
}

struct EndValues {
  uint16_t disk = 0;
  uint16_t start_disk = 0;
  uint16_t entries_on_disk = 0;
  uint16_t total_entries = 0;
  uint32_t directory_size = 0;
  uint32_t directory_offset = 0;
};

std::vector<uint8_t> EndRecord(const EndValues& v, const ZipWriterOptions& o) {
  std::vector<uint8_t> out;
  Put32(out, o.end_signature.value_or(0x06054B50));
  Put16(out, o.disk_number.value_or(v.disk));
  Put16(out, o.start_disk_number.value_or(v.start_disk));
  Put16(out, o.entries_on_disk.value_or(v.entries_on_disk));
  Put16(out, o.total_entries.value_or(v.total_entries));
  Put32(out, o.directory_size.value_or(v.directory_size));
  Put32(out, o.directory_offset.value_or(v.directory_offset));
  Put16(out, o.comment_length.value_or(static_cast<uint16_t>(o.archive_comment.size())));
  PutText(out, o.archive_comment);
  return out;
}

}  // namespace

ZipImage BuildZip(const std::vector<ZipWriterEntry>& entries, const ZipWriterOptions& options) {
  ZipImage zip;
  std::vector<uint8_t>& out = zip.bytes;
  out = options.stub;
  const uint32_t base = options.absolute_offsets ? 0 : static_cast<uint32_t>(options.stub.size());
  std::vector<PackedEntry> packed;
  std::vector<uint32_t> offsets;
  for (const ZipWriterEntry& e : entries) {
    packed.push_back(Pack(e));
    zip.local_header_positions.push_back(static_cast<uint32_t>(out.size()));
    offsets.push_back(static_cast<uint32_t>(out.size()) - base);
    std::vector<uint8_t> header = LocalHeader(e, packed.back());
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), packed.back().data.begin(), packed.back().data.end());
  }
  zip.directory_position = static_cast<uint32_t>(out.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    zip.central_header_positions.push_back(static_cast<uint32_t>(out.size()));
    std::vector<uint8_t> header = CentralHeader(entries[i], packed[i], 0, offsets[i]);
    out.insert(out.end(), header.begin(), header.end());
  }
  EndValues end;
  end.entries_on_disk = end.total_entries = static_cast<uint16_t>(entries.size());
  end.directory_size = static_cast<uint32_t>(out.size()) - zip.directory_position;
  end.directory_offset = zip.directory_position - base;
  zip.end_record_position = static_cast<uint32_t>(out.size());
  std::vector<uint8_t> record = EndRecord(end, options);
  out.insert(out.end(), record.begin(), record.end());
  out.insert(out.end(), options.trailer.begin(), options.trailer.end());
  return zip;
}

namespace {

// Lays blobs out over images of at most max bytes.
class ImageSet {
 public:
  explicit ImageSet(uint32_t max) : max_(max) { images_.emplace_back(); }

  // A header stays whole: it starts a new image when it does not fit.
  void PutWhole(const std::vector<uint8_t>& blob) {
    if (!images_.back().empty() && images_.back().size() + blob.size() > max_) NewImage();
    Append(blob);
  }
  // Data may run on into the next image.
  void PutSplit(const std::vector<uint8_t>& blob) {
    size_t at = 0;
    while (at < blob.size()) {
      if (images_.back().size() >= max_) NewImage();
      size_t room = std::min<size_t>(max_ - images_.back().size(), blob.size() - at);
      images_.back().insert(images_.back().end(), blob.begin() + at, blob.begin() + at + room);
      at += room;
    }
  }
  // Where the next whole blob of n bytes will start.
  std::pair<uint16_t, uint32_t> NextWhole(size_t n) const {
    if (!images_.back().empty() && images_.back().size() + n > max_) {
      return {static_cast<uint16_t>(images_.size()), 0};
    }
    return {static_cast<uint16_t>(images_.size() - 1),
            static_cast<uint32_t>(images_.back().size())};
  }
  // Where the next split blob will start.
  std::pair<uint16_t, uint32_t> NextSplit() const {
    if (images_.back().size() >= max_) return {static_cast<uint16_t>(images_.size()), 0};
    return {static_cast<uint16_t>(images_.size() - 1),
            static_cast<uint32_t>(images_.back().size())};
  }
  void NewImage() { images_.emplace_back(); }
  bool LastEmpty() const { return images_.back().empty(); }
  std::vector<std::vector<uint8_t>> Take() { return std::move(images_); }

 private:
  void Append(const std::vector<uint8_t>& blob) {
    images_.back().insert(images_.back().end(), blob.begin(), blob.end());
  }
  uint32_t max_;
  std::vector<std::vector<uint8_t>> images_;
};

}  // namespace

std::vector<std::vector<uint8_t>> BuildSpannedZip(const std::vector<ZipWriterEntry>& entries,
                                                  const ZipSpanLayout& layout) {
  ImageSet set(layout.max_image_size);
  std::vector<uint8_t> marker;
  Put32(marker, 0x08074B50);
  set.PutWhole(marker);
  std::vector<PackedEntry> packed;
  std::vector<std::pair<uint16_t, uint32_t>> where;
  for (const ZipWriterEntry& e : entries) {
    packed.push_back(Pack(e));
    std::vector<uint8_t> header = LocalHeader(e, packed.back());
    if (layout.local_headers_may_straddle) {
      where.push_back(set.NextSplit());
      set.PutSplit(header);
    } else {
      where.push_back(set.NextWhole(header.size()));
      set.PutWhole(header);
    }
    set.PutSplit(packed.back().data);
  }
  if (layout.directory_starts_image && !set.LastEmpty()) set.NewImage();
  EndValues end;
  end.total_entries = static_cast<uint16_t>(entries.size());
  std::vector<uint16_t> central_disks;
  for (size_t i = 0; i < entries.size(); ++i) {
    std::vector<uint8_t> header =
        CentralHeader(entries[i], packed[i], where[i].first, where[i].second);
    auto at = set.NextWhole(header.size());
    if (i == 0) {
      end.start_disk = at.first;
      end.directory_offset = at.second;
    }
    central_disks.push_back(at.first);
    end.directory_size += static_cast<uint32_t>(header.size());
    set.PutWhole(header);
  }
  ZipWriterOptions no_overrides;
  end.disk = set.NextWhole(22).first;
  if (entries.empty()) {
    end.start_disk = end.disk;
    end.directory_offset = set.NextWhole(22).second;
  }
  for (uint16_t disk : central_disks) end.entries_on_disk += disk == end.disk ? 1 : 0;
  set.PutWhole(EndRecord(end, no_overrides));
  return set.Take();
}

std::vector<uint8_t> MakePeStubWithCertificate(uint32_t image_size, uint32_t certificate_size) {
  constexpr uint32_t kPeHeaderOffset = 0x100;
  std::vector<uint8_t> out(image_size, 0);
  out[0] = 'M';
  out[1] = 'Z';
  Patch32(out, 0x3C, kPeHeaderOffset);
  // "PE\0\0", then the COFF header: machine i386, one section, optional
  // header of 224 bytes (PE32), characteristics executable.
  std::vector<uint8_t> pe;
  PutText(pe, std::string("PE\0\0", 4));
  Put16(pe, 0x014C);
  Put16(pe, 1);
  Put32(pe, 0);
  Put32(pe, 0);
  Put32(pe, 0);
  Put16(pe, 224);
  Put16(pe, 0x0102);
  // Optional header: magic 0x10B; the data directories start 96 bytes in,
  // 16 entries of (offset, size); entry 4 is the security directory, whose
  // "offset" is a file position.
  std::vector<uint8_t> optional(224, 0);
  optional[0] = 0x0B;
  optional[1] = 0x01;
  Patch32(optional, 92, 16);
  Patch32(optional, 96 + 4 * 8, image_size);
  Patch32(optional, 96 + 4 * 8 + 4, certificate_size);
  pe.insert(pe.end(), optional.begin(), optional.end());
  std::copy(pe.begin(), pe.end(), out.begin() + kPeHeaderOffset);
  // WIN_CERTIFICATE: length, revision 2.0, type PKCS#7 signed data.
  std::vector<uint8_t> certificate;
  Put32(certificate, certificate_size);
  Put16(certificate, 0x0200);
  Put16(certificate, 0x0002);
  certificate.resize(certificate_size, 0x30);
  out.insert(out.end(), certificate.begin(), certificate.end());
  return out;
}

std::vector<uint8_t> MakeElfStub(uint32_t size) {
  std::vector<uint8_t> out(size, 0);
  const uint8_t ident[] = {0x7F, 'E', 'L', 'F', 2 /* 64-bit */, 1 /* little-endian */, 1};
  std::copy(std::begin(ident), std::end(ident), out.begin());
  out[16] = 2;   // ET_EXEC
  out[18] = 62;  // EM_X86_64
  return out;
}

std::vector<uint8_t> DeflateRaw(const std::vector<uint8_t>& data) {
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  std::vector<uint8_t> out(deflateBound(&z, static_cast<uLong>(data.size())) + 16);
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  int rc = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate did not finish");
  return out;
}

std::vector<uint8_t> Bytes(std::string_view text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

uint32_t Crc32Of(const std::vector<uint8_t>& data) {
  return static_cast<uint32_t>(crc32(0L, data.data(), static_cast<uInt>(data.size())));
}

void WriteHostFile(const std::string& host_path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(host_path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + host_path);
}

}  // namespace velmora::testing
