// A small ZIP writer for tests: builds archives in memory with every header
// field under the test's control, so that readers can be tried on plain
// archives, on archives behind a program stub, on spanned sets and on
// archives damaged in one named place.
//
// Typical use:
//   ZipWriterEntry a{.name = "dir/a.txt", .data = Bytes("hello")};
//   ZipImage zip = BuildZip({a});              // zip.bytes is the archive
//   zip.bytes[zip.central_header_positions[0]] = 'X';  // break a signature
//
// Items are stored (method 0) or deflated with zlib (method 8). Nothing is
// validated: a test may write any value into any field.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Tests name only the fields they care about with designated initializers
// ({.name = "a", .data = ...}); the rest keep their defaults on purpose.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace velmora::testing {

// 2026-01-01 12:00:00 in DOS form.
constexpr uint16_t kZipTestDosDate = ((2026 - 1980) << 9) | (1 << 5) | 1;
constexpr uint16_t kZipTestDosTime = 12 << 11;

struct ZipWriterEntry {
  std::string name;           // stored name bytes, "/" separated
  std::vector<uint8_t> data;  // uncompressed content
  uint16_t method = 0;        // 0 stored, 8 deflated (zlib, raw), others stored as is
  // Low byte the version, high byte the host (0 MS-DOS, 3 Unix).
  uint16_t version_made_by = 20;
  uint16_t version_needed = 20;
  uint16_t flags = 0;
  uint16_t dos_time = kZipTestDosTime;
  uint16_t dos_date = kZipTestDosDate;
  uint16_t internal_attributes = 0;
  uint32_t external_attributes = 0x20;
  std::string local_extra;
  std::string central_extra;
  std::string comment;
  // Values written instead of the computed ones.
  std::optional<uint32_t> crc;
  std::optional<std::string> local_name;
  std::optional<uint16_t> disk_number_start;
};

struct ZipWriterOptions {
  // Bytes in front of the archive: a program image, junk, a certificate.
  std::vector<uint8_t> stub;
  // true: offsets count from the first byte of the stub (as a
  // self-extracting archive built for this engine needs); false: from the
  // first local header, as if the ZIP was appended without adjusting.
  bool absolute_offsets = true;
  std::string archive_comment;
  // Bytes behind the end record and its comment.
  std::vector<uint8_t> trailer;
  // End record fields written instead of the computed ones.
  std::optional<uint32_t> end_signature;
  std::optional<uint16_t> disk_number;
  std::optional<uint16_t> start_disk_number;
  std::optional<uint16_t> entries_on_disk;
  std::optional<uint16_t> total_entries;
  std::optional<uint32_t> directory_size;
  std::optional<uint32_t> directory_offset;
  std::optional<uint16_t> comment_length;
};

// An archive and where its records landed (positions in bytes).
struct ZipImage {
  std::vector<uint8_t> bytes;
  std::vector<uint32_t> local_header_positions;
  std::vector<uint32_t> central_header_positions;
  uint32_t directory_position = 0;
  uint32_t end_record_position = 0;
};

ZipImage BuildZip(const std::vector<ZipWriterEntry>& entries, const ZipWriterOptions& options = {});

// A spanned set as Info-ZIP and PKZIP split it: image k holds disk k, the
// first starts with the spanned marker 50 4B 07 08, and the last holds the
// end record. Headers never straddle two images (a header that does not fit
// starts the next one); file data may. Local header offsets are counted from
// the start of their own image.
struct ZipSpanLayout {
  uint32_t max_image_size = 1024;
  // Start a fresh image where the central directory begins.
  bool directory_starts_image = false;
  // Let local headers run on into the next image as data does, as a writer
  // that splits its output blindly at the image size would leave them.
  bool local_headers_may_straddle = false;
};
std::vector<std::vector<uint8_t>> BuildSpannedZip(const std::vector<ZipWriterEntry>& entries,
                                                  const ZipSpanLayout& layout);

// A synthetic Windows installer in front of a ZIP: an "MZ" image of
// image_size bytes whose PE header (at 0x100, named at 0x3C) carries the
// security directory (data directory entry 4) pointing at a certificate
// block of certificate_size bytes right behind the image. Returns image
// and certificate block.
std::vector<uint8_t> MakePeStubWithCertificate(uint32_t image_size, uint32_t certificate_size);
// An ELF program image of size bytes (7F "ELF", 64-bit little-endian).
std::vector<uint8_t> MakeElfStub(uint32_t size);

std::vector<uint8_t> DeflateRaw(const std::vector<uint8_t>& data);
std::vector<uint8_t> Bytes(std::string_view text);
uint32_t Crc32Of(const std::vector<uint8_t>& data);
// Writes bytes to a host file, replacing it; raises std::runtime_error.
void WriteHostFile(const std::string& host_path, const std::vector<uint8_t>& bytes);

}  // namespace velmora::testing
