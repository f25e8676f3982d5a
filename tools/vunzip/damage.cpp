#include "tools/vunzip/damage.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <utility>

#include "archive/checksum/crc32.h"
#include "archive/zip/zip_item.h"
#include "tools/vunzip/listing.h"

namespace velmora::vunzip {

namespace {

// The local file header: signature "PK\3\4", then fixed fields up to the
// name length at offset 26 and the extra-field length at 28 (APPNOTE
// 4.3.7); 30 bytes in all.
constexpr char kLocalSignature[] = {'P', 'K', 3, 4};
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kFlagsAt = 6;
constexpr size_t kMethodAt = 8;
constexpr size_t kCrcAt = 14;
constexpr size_t kPackedSizeAt = 18;
constexpr size_t kUnpackedSizeAt = 22;
// General purpose bit 3: CRC and sizes follow the data, the header's are 0.
constexpr uint16_t kDataDescriptorFlag = 0x0008;
// General purpose bit 0: the item is encrypted (APPNOTE 4.4.4).
constexpr uint16_t kEncryptedFlag = 0x0001;
constexpr uint32_t kEncryptionHeaderSize = 12;
// General purpose bit 6: strong encryption (APPNOTE 4.4.4).
constexpr uint16_t kStrongEncryptionFlag = 0x0040;
// A 32-bit size of all ones: the real one is in the ZIP64 extra field.
constexpr uint32_t kZip64Size = 0xFFFFFFFF;
constexpr uint16_t kMethodStored = 0;
constexpr size_t kNameLengthAt = 26;
constexpr size_t kExtraLengthAt = 28;
// Each extra-field entry starts with a 16-bit ID and a 16-bit length.
constexpr size_t kEntryHeaderSize = 4;

uint16_t Little16(const unsigned char* bytes) {
  return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

uint32_t Little32(const unsigned char* bytes) {
  return static_cast<uint32_t>(Little16(bytes)) | static_cast<uint32_t>(Little16(bytes + 2)) << 16;
}

std::string Hex8(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

}  // namespace

std::optional<std::string> ExtraFieldDamage(const std::string& block) {
  size_t at = 0;
  while (block.size() - at >= kEntryHeaderSize) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(block.data() + at);
    const size_t length = Little16(bytes + 2);
    const size_t remaining = block.size() - at - kEntryHeaderSize;
    if (length > remaining) {
      return "bad extra-field entry:\n      EF block length (" + std::to_string(length) +
             " bytes) exceeds remaining EF data (" + std::to_string(remaining) + " bytes)";
    }
    at += kEntryHeaderSize + length;
  }
  return std::nullopt;
}

namespace {

struct LocalHeader {
  unsigned char fixed[kLocalHeaderSize];
  std::string name;
  std::string extra;
};

// Reads the next count bytes of the archive's first file into buffer;
// false when they are not all there.
using ReadNext = std::function<bool(char* buffer, size_t count)>;

// Reads the local header at the item's offset, where read stands. False
// when there is none.
bool ReadAnyLocalHeader(const ReadNext& read, LocalHeader& header) {
  if (!read(reinterpret_cast<char*>(header.fixed), sizeof header.fixed)) return false;
  if (std::memcmp(header.fixed, kLocalSignature, sizeof kLocalSignature) != 0) return false;
  header.name.assign(Little16(header.fixed + kNameLengthAt), '\0');
  header.extra.assign(Little16(header.fixed + kExtraLengthAt), '\0');
  return read(header.name.data(), header.name.size()) &&
         read(header.extra.data(), header.extra.size());
}

bool ReadAnyLocalHeader(std::ifstream& archive, const TAbZipItem& item, LocalHeader& header) {
  if (!archive || item.StartDisk() != 0) return false;
  archive.clear();
  archive.seekg(static_cast<std::streamoff>(item.LocalHeaderOffset()));
  return ReadAnyLocalHeader(
      [&archive](char* buffer, size_t count) {
        return static_cast<bool>(archive.read(buffer, static_cast<std::streamsize>(count)));
      },
      header);
}

// The same through the archive's own stream, whose buffer holds the
// header already when the items are read in order: no system call.
bool ReadAnyLocalHeader(TStream& archive, const TAbZipItem& item, LocalHeader& header) {
  if (item.StartDisk() != 0 || item.LocalHeaderOffset() > INT64_MAX) return false;
  archive.Seek(static_cast<int64_t>(item.LocalHeaderOffset()), soFromBeginning);
  return ReadAnyLocalHeader(
      [&archive](char* buffer, size_t count) {
        while (count > 0) {
          const auto step = static_cast<int32_t>(std::min<size_t>(count, INT32_MAX));
          const int32_t got = archive.Read(buffer, step);
          if (got <= 0) return false;
          buffer += got;
          count -= static_cast<size_t>(got);
        }
        return true;
      },
      header);
}

// Reads the item's local header: its name and extra field. False when the
// offset holds no local header, or another item's.
template <typename Source>
bool ReadLocalHeader(Source& archive, const TAbZipItem& item, std::string& extra) {
  LocalHeader header;
  if (!ReadAnyLocalHeader(archive, item, header)) return false;
  extra = std::move(header.extra);
  // Another item's header (an offset that the engine shifts): not ours to judge.
  return header.name == item.DirectoryHeader().FileName;
}

}  // namespace

namespace {

LocalHeaderReport CompareHeaders(const LocalHeader& header, const TAbZipItem& item) {
  LocalHeaderReport report;
  const std::string& central_name = item.DirectoryHeader().FileName;
  // Made only for a warning: most headers agree.
  auto shown = [&item] { return SafeName(item.GetStoredName()); };
  if (header.name != central_name) {
    // unzip's words; the central name is the one every listing shows.
    report.warnings.push_back(shown() + ":  mismatching \"local\" filename (" +
                              SafeName(header.name) +
                              "),\n         continuing with \"central\" filename version");
  }
  const uint16_t flags = Little16(header.fixed + kFlagsAt);
  if ((flags & kDataDescriptorFlag) != 0) return report;  // no CRC or sizes here
  // Strong encryption's sizes count its own headers; unzip skips the item.
  if ((flags & kStrongEncryptionFlag) != 0) return report;
  uint32_t packed = Little32(header.fixed + kPackedSizeAt);
  // Traditional encryption puts its 12-byte header before a stored item's
  // data; the compressed size counts it.
  if ((flags & kEncryptedFlag) != 0 && packed >= kEncryptionHeaderSize && packed != kZip64Size) {
    packed -= kEncryptionHeaderSize;
  }
  const uint32_t unpacked = Little32(header.fixed + kUnpackedSizeAt);
  if (Little16(header.fixed + kMethodAt) == kMethodStored && packed != unpacked &&
      packed != kZip64Size && unpacked != kZip64Size) {
    report.warnings.push_back(shown() + ":  ucsize " + std::to_string(unpacked) + " <> csize " +
                              std::to_string(packed) +
                              " for STORED entry\n         continuing with \"compressed\" "
                              "size value");
  }
  const uint32_t local_crc = Little32(header.fixed + kCrcAt);
  const uint32_t central_crc = item.DirectoryHeader().CRC32;
  if (local_crc != central_crc) {
    report.error = "the local header's CRC " + Hex8(local_crc) +
                   " disagrees with the central directory's " + Hex8(central_crc) +
                   ": the archive is damaged; check the data against a good copy";
  }
  return report;
}

}  // namespace

LocalHeaderReport CompareLocalHeader(std::ifstream& archive, const TAbZipItem& item) {
  LocalHeader header;
  if (!ReadAnyLocalHeader(archive, item, header)) return {};
  return CompareHeaders(header, item);
}

LocalHeaderReport CompareLocalHeader(TStream& archive, const TAbZipItem& item) {
  LocalHeader header;
  if (!ReadAnyLocalHeader(archive, item, header)) return {};
  return CompareHeaders(header, item);
}

namespace {

template <typename Source>
LocalHeaderChecks CheckLocalHeaderIn(Source& archive, const TAbZipItem& item) {
  LocalHeader header;
  if (!ReadAnyLocalHeader(archive, item, header)) return {};
  LocalHeaderChecks checks;
  checks.report = CompareHeaders(header, item);
  // Another item's header (an offset that the engine shifts): not ours to judge.
  if (header.name == item.DirectoryHeader().FileName) {
    checks.extra_field_damage = ExtraFieldDamage(header.extra);
  }
  return checks;
}

}  // namespace

LocalHeaderChecks CheckLocalHeader(std::ifstream& archive, const TAbZipItem& item) {
  return CheckLocalHeaderIn(archive, item);
}

LocalHeaderChecks CheckLocalHeader(TStream& archive, const TAbZipItem& item) {
  return CheckLocalHeaderIn(archive, item);
}

std::optional<uint64_t> LocalHeaderLength(std::ifstream& archive, const TAbZipItem& item) {
  std::string extra;
  if (!ReadLocalHeader(archive, item, extra)) return std::nullopt;
  return kLocalHeaderSize + item.DirectoryHeader().FileName.size() + extra.size();
}

int32_t CrcCountingBucket::Write(const void* buffer, int32_t count) {
  const int32_t written = TAbBitBucketStream::Write(buffer, count);
  UpdateCrc32Buffer(crc_, buffer, written);
  return written;
}

std::string BadCrcLine(const std::string& name, uint32_t found, uint32_t expected, bool quiet) {
  char line[64];
  std::snprintf(line, sizeof line, "bad CRC %08x  (should be %08x)", found, expected);
  const std::string shown = name.size() < 22 ? name + std::string(22 - name.size(), ' ') : name;
  return quiet ? shown + "  " + line + "\n" : "    testing: " + shown + "   " + line + "\n";
}

std::string SkippingLine(const std::string& name, const std::string& reason) {
  const std::string shown = name.size() < 22 ? name + std::string(22 - name.size(), ' ') : name;
  return "   skipping: " + shown + "  " + reason + "\n";
}

std::string UnsupportedReason(const TAbZipItem& item) {
  constexpr uint16_t kStrongEncryption = 0x0040;  // general purpose bit 6
  if (item.FlagBits() & kStrongEncryption) return "`strong encryption' not supported";
  // Names of methods this engine does not read, as unzip names them.
  switch (item.Method()) {
    case 7: return "`tokenize' method not supported";
    case 98: return "`PPMd' method not supported";
    default: return "unsupported compression method " + std::to_string(item.Method());
  }
}

}  // namespace velmora::vunzip
