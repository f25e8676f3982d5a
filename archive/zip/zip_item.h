// A ZIP item: an archive item whose values live in its central directory
// header.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "archive/base/archive_item.h"
#include "archive/zip/zip_records.h"
#include "rtl/stream.h"

namespace velmora {

// Host systems in the high byte of "version made by".
constexpr uint8_t kAbHostMsDos = 0;

// What Info-ZIP's Unix extra fields say of an item: the times (seconds
// since 1970, UTC) and the owner. Each part is there only when the archive
// holds it.
struct TAbUnixExtra {
  std::optional<int64_t> ModificationTime;
  std::optional<int64_t> AccessTime;
  std::optional<uint32_t> Uid;
  std::optional<uint32_t> Gid;
};

class TAbZipItem : public TAbArchiveItem {
 public:
  TAbZipItem();
  ~TAbZipItem() override;

  // Reads one central directory header into the item.
  void ReadFromStream(TStream& stream);

  int64_t GetPackedSize() const override;
  uint32_t GetCrc32() const override;
  uint32_t GetHostAttributes() const override;
  // The stored name as the system's ANSI text: a name made on MS-DOS is in
  // the OEM code page and is converted, unless its UTF-8 flag says it is
  // UTF-8 already. An Info-ZIP Unicode path field whose CRC matches the
  // stored name gives the name instead. The "/" separators stay.
  std::string GetStoredName() const override;
  bool GetEncrypted() const override;
  uint16_t GetDosDate() const override;
  uint16_t GetDosTime() const override;
  int64_t GetUnpackedSize() const override;
  void SetPackedSize(int64_t value) override;
  void SetCrc32(uint32_t value) override;
  void SetHostAttributes(uint32_t value) override;
  void SetStoredName(const std::string& value) override;
  void SetDosDate(uint16_t value) override;
  void SetDosTime(uint16_t value) override;
  void SetUnpackedSize(int64_t value) override;

  uint16_t MadeByVersion() const { return header_->VersionMadeBy; }
  uint16_t NeededVersion() const { return header_->VersionNeededToExtract; }
  uint16_t FlagBits() const { return header_->GeneralPurposeBitFlag; }
  uint8_t Method() const { return static_cast<uint8_t>(header_->CompressionMethod & 0xFF); }
  uint16_t StartDisk() const { return header_->DiskNumberStart; }
  // Where the local header is, counted from the first byte of its disk's
  // file (the archive's shift already added).
  uint64_t LocalHeaderOffset() const { return header_->RelativeOffset64; }
  // The times and owner from the extended timestamp (0x5455) and the Unix
  // fields (0x7875, 0x5855, PKWARE's 0x000d) of the central header.
  const TAbUnixExtra& UnixExtra() const { return unix_extra_; }
  // The modification time to show and restore, in seconds since 1970 (UTC):
  // the Unix fields' time as Info-ZIP's unzip takes it, or nothing, and
  // then the DOS time stands.
  std::optional<int64_t> UnixModificationTime() const;
  std::string ExtraData() const { return header_->ExtraFieldText(); }
  uint8_t ImplodeDictionary() const { return header_->ImplodeDictionary(); }
  uint8_t ImplodeTreeCount() const { return header_->ImplodeTreeCount(); }

  void SetMadeByVersion(uint16_t value) { header_->VersionMadeBy = value; }
  void SetNeededVersion(uint16_t value) { header_->VersionNeededToExtract = value; }
  void SetFlagBits(uint16_t value) { header_->GeneralPurposeBitFlag = value; }
  void SetMethod(uint16_t value) { header_->SetCompressionMethod(value); }
  void SetStartDisk(uint16_t value) { header_->DiskNumberStart = value; }
  void SetLocalHeaderOffset(uint64_t value) {
    header_->RelativeOffset = static_cast<uint32_t>(std::min<uint64_t>(value, kAbZip64Marker32));
    header_->RelativeOffset64 = value;
  }

  TAbZipDirectoryFileHeader& DirectoryHeader() { return *header_; }
  const TAbZipDirectoryFileHeader& DirectoryHeader() const { return *header_; }

 private:
  void ReadExtraFields();

  std::unique_ptr<TAbZipDirectoryFileHeader> header_;
  // The name from a matching Unicode path field, UTF-8; empty without one.
  std::string unicode_name_;
  TAbUnixExtra unix_extra_;
};

}  // namespace velmora
