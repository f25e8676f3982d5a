#include "tests/support/hostile_zip.h"

#include "tests/support/implode_encoder.h"
#include "tests/support/reduce_encoder.h"
#include "tests/support/shrink_encoder.h"

namespace velmora::testing {

namespace {

// Field offsets within the two headers (APPNOTE 4.3.7 and 4.3.12).
constexpr size_t kLocalMethod = 8, kLocalUnpacked = 22;
constexpr size_t kCentralMethod = 10, kCentralUnpacked = 24;
constexpr size_t kCentralName = 46;
constexpr size_t kEndEntriesOnDisk = 8, kEndTotalEntries = 10, kEndDirectorySize = 12;
constexpr uint16_t kImplodeFlags = 2 | 4;  // 8 KB dictionary, three trees

void Put16At(std::vector<uint8_t>& bytes, size_t at, uint16_t value) {
  bytes.at(at) = static_cast<uint8_t>(value);
  bytes.at(at + 1) = static_cast<uint8_t>(value >> 8);
}

void Put32At(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

void SetDeclaredSize(ZipImage& zip, size_t item, uint32_t size) {
  Put32At(zip.bytes, zip.local_header_positions.at(item) + kLocalUnpacked, size);
  Put32At(zip.bytes, zip.central_header_positions.at(item) + kCentralUnpacked, size);
}

void SetMethod(ZipImage& zip, size_t item, uint16_t method) {
  Put16At(zip.bytes, zip.local_header_positions.at(item) + kLocalMethod, method);
  Put16At(zip.bytes, zip.central_header_positions.at(item) + kCentralMethod, method);
}

std::vector<uint8_t> MakeOversizedDeflateItem(const std::string& name, size_t actual,
                                              uint32_t declared) {
  ZipImage zip = BuildZip({{.name = name, .data = std::vector<uint8_t>(actual, 0), .method = 8}});
  SetDeclaredSize(zip, 0, declared);
  return zip.bytes;
}

std::vector<uint8_t> MakeStoredItemClaimingMore(size_t held, uint32_t declared, size_t next_size) {
  ZipImage zip = BuildZip({{.name = "claims", .data = std::vector<uint8_t>(held, 'c')},
                           {.name = "next", .data = std::vector<uint8_t>(next_size, 'n')}});
  SetDeclaredSize(zip, 0, declared);
  return zip.bytes;
}

std::vector<uint8_t> MakeLegacyItem(uint16_t method, const std::string& name,
                                    const std::vector<uint8_t>& data) {
  ZipWriterEntry entry{.name = name, .crc = Crc32Of(data)};
  switch (method) {
    case 1: entry.data = EncodeShrink(data); break;
    case 3: entry.data = EncodeReduce(data, 2); break;
    default:
      entry.data = EncodeImplode(data, {});
      entry.flags = kImplodeFlags;
      break;
  }
  ZipImage zip = BuildZip({entry});
  SetMethod(zip, 0, method);
  SetDeclaredSize(zip, 0, static_cast<uint32_t>(data.size()));
  return zip.bytes;
}

std::vector<uint8_t> HalfCompressible(size_t size, uint32_t seed) {
  std::vector<uint8_t> out(size);
  uint32_t state = seed;
  for (auto& b : out) {
    state = state * 1103515245u + 12345u;
    b = static_cast<uint8_t>('a' + ((state >> 16) & 15));
  }
  return out;
}

std::vector<uint8_t> MakeOverlappingEntries(int count, size_t item_size) {
  // One item; its central entry repeated, each copy named apart
  // ("bomb000", "bomb001", ...) and pointing at the same local header.
  const ZipImage one =
      BuildZip({{.name = "bomb000", .data = std::vector<uint8_t>(item_size, 0), .method = 8}});
  const auto central_begin = one.bytes.begin() + one.directory_position;
  const std::vector<uint8_t> entry(central_begin, one.bytes.begin() + one.end_record_position);
  std::vector<uint8_t> out(one.bytes.begin(), central_begin);
  for (int i = 0; i < count; ++i) {
    std::vector<uint8_t> copy = entry;
    const std::string digits = std::to_string(1000 + i % 1000).substr(1);
    for (size_t d = 0; d < 3; ++d) copy.at(kCentralName + 4 + d) = static_cast<uint8_t>(digits[d]);
    out.insert(out.end(), copy.begin(), copy.end());
  }
  std::vector<uint8_t> end(one.bytes.begin() + one.end_record_position, one.bytes.end());
  Put16At(end, kEndEntriesOnDisk, static_cast<uint16_t>(count));
  Put16At(end, kEndTotalEntries, static_cast<uint16_t>(count));
  Put32At(end, kEndDirectorySize, static_cast<uint32_t>(entry.size() * count));
  out.insert(out.end(), end.begin(), end.end());
  return out;
}

std::vector<uint8_t> MakeEntryCountThatCannotFit() {
  return BuildZip({}, {.entries_on_disk = 65535, .total_entries = 65535}).bytes;
}

std::vector<uint8_t> MakeDirectoryAtTheEndRecord() {
  const ZipImage plain = BuildZip({});
  return BuildZip({}, {.directory_size = 22, .directory_offset = plain.end_record_position}).bytes;
}

}  // namespace velmora::testing
