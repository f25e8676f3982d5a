// ZIP64 archives for tests: the 0x0001 extra field in both headers, the
// ZIP64 end record and its locator, with every choice a writer makes in the
// test's hands (markers or real values in the 32-bit fields, bytes in front
// with or without adjusted offsets). Data is given packed, so an item can
// claim more than 4 GiB without the test holding it.
//
// Typical use:
//   Zip64Image zip = BuildZip64({StoredEntry64("a.txt", Bytes("hello"))});
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora::testing {

struct Zip64Entry {
  std::string name;
  std::vector<uint8_t> packed;  // the bytes as stored
  uint64_t unpacked_size = 0;
  uint32_t crc = 0;
  uint16_t method = 0;
  uint16_t flags = 0;
  // Written behind the ZIP64 block in the central header.
  std::string central_extra;
};

Zip64Entry StoredEntry64(const std::string& name, const std::vector<uint8_t>& data);
Zip64Entry DeflatedEntry64(const std::string& name, const std::vector<uint8_t>& data);
// count zero bytes, deflated: one zlib-made block for a MiB of zeros after
// a full flush repeats, so 4 GiB cost a few megabytes and no compression.
Zip64Entry ZerosEntry64(const std::string& name, uint64_t count);

struct Zip64Options {
  // Bytes in front; with absolute_offsets false the offsets count from the
  // first local header, as when an archive is appended with cat.
  std::vector<uint8_t> stub;
  bool absolute_offsets = true;
  // The 32-bit end record holds the ZIP64 markers (0xFFFF, 0xFFFFFFFF);
  // false: it holds the real values where they fit.
  bool markers_in_end_record = true;
  std::string archive_comment;
};

struct Zip64Image {
  std::vector<uint8_t> bytes;
  std::vector<uint64_t> local_header_positions;
  uint64_t directory_position = 0;
  uint64_t zip64_end_position = 0;
  uint64_t locator_position = 0;
  uint64_t end_record_position = 0;
};

// Every central header carries its sizes and offset in the ZIP64 block
// (the 32-bit fields hold the marker); every local header both sizes.
Zip64Image BuildZip64(const std::vector<Zip64Entry>& entries, const Zip64Options& options = {});

}  // namespace velmora::testing
