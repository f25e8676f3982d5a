#include "tools/vunzip/damage.h"

#include "archive/zip/zip_item.h"

namespace velmora::vunzip {

namespace {

// The local file header: signature "PK\3\4", then fixed fields up to the
// name length at offset 26 and the extra-field length at 28 (APPNOTE
// 4.3.7); 30 bytes in all.
constexpr char kLocalSignature[] = {'P', 'K', 3, 4};
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kNameLengthAt = 26;
constexpr size_t kExtraLengthAt = 28;
// Each extra-field entry starts with a 16-bit ID and a 16-bit length.
constexpr size_t kEntryHeaderSize = 4;

uint16_t Little16(const unsigned char* bytes) {
  return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
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

// Reads the item's local header: its name and extra field. False when the
// offset holds no local header, or another item's.
bool ReadLocalHeader(std::ifstream& archive, const TAbZipItem& item, std::string& extra) {
  if (!archive || item.StartDisk() != 0) return false;
  archive.clear();
  archive.seekg(static_cast<std::streamoff>(item.LocalHeaderOffset()));
  unsigned char header[kLocalHeaderSize];
  if (!archive.read(reinterpret_cast<char*>(header), sizeof header)) return false;
  if (std::string(reinterpret_cast<const char*>(header), 4) != std::string(kLocalSignature, 4)) {
    return false;
  }
  std::string name(Little16(header + kNameLengthAt), '\0');
  extra.assign(Little16(header + kExtraLengthAt), '\0');
  if (!archive.read(name.data(), static_cast<std::streamsize>(name.size())) ||
      !archive.read(extra.data(), static_cast<std::streamsize>(extra.size()))) {
    return false;
  }
  // Another item's header (an offset that the engine shifts): not ours to judge.
  return name == item.DirectoryHeader().FileName;
}

}  // namespace

std::optional<std::string> LocalExtraFieldDamage(std::ifstream& archive, const TAbZipItem& item) {
  std::string extra;
  if (!ReadLocalHeader(archive, item, extra)) return std::nullopt;
  return ExtraFieldDamage(extra);
}

std::optional<uint64_t> LocalHeaderLength(std::ifstream& archive, const TAbZipItem& item) {
  std::string extra;
  if (!ReadLocalHeader(archive, item, extra)) return std::nullopt;
  return kLocalHeaderSize + item.DirectoryHeader().FileName.size() + extra.size();
}

}  // namespace velmora::vunzip
