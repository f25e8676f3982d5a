// A ZIP item: an archive item whose values live in its central directory
// header.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archive/base/archive_item.h"
#include "archive/zip/zip_records.h"
#include "rtl/stream.h"

namespace velmora {

// Host systems in the high byte of "version made by".
constexpr uint8_t kAbHostMsDos = 0;

class TAbZipItem : public TAbArchiveItem {
 public:
  TAbZipItem();
  ~TAbZipItem() override;

  // Reads one central directory header into the item.
  void ReadFromStream(TStream& stream);

  int32_t GetPackedSize() const override;
  uint32_t GetCrc32() const override;
  uint32_t GetHostAttributes() const override;
  // The stored name as the system's ANSI text: a name made on MS-DOS is in
  // the OEM code page and is converted, unless its UTF-8 flag says it is
  // UTF-8 already. The "/" separators stay.
  std::string GetStoredName() const override;
  bool GetEncrypted() const override;
  uint16_t GetDosDate() const override;
  uint16_t GetDosTime() const override;
  int32_t GetUnpackedSize() const override;
  void SetPackedSize(int32_t value) override;
  void SetCrc32(uint32_t value) override;
  void SetHostAttributes(uint32_t value) override;
  void SetStoredName(const std::string& value) override;
  void SetDosDate(uint16_t value) override;
  void SetDosTime(uint16_t value) override;
  void SetUnpackedSize(int32_t value) override;

  uint16_t MadeByVersion() const { return header_->VersionMadeBy; }
  uint16_t NeededVersion() const { return header_->VersionNeededToExtract; }
  uint16_t FlagBits() const { return header_->GeneralPurposeBitFlag; }
  uint8_t Method() const { return static_cast<uint8_t>(header_->CompressionMethod & 0xFF); }
  uint16_t StartDisk() const { return header_->DiskNumberStart; }
  uint32_t LocalHeaderOffset() const { return header_->RelativeOffset; }
  std::string ExtraData() const { return header_->ExtraFieldText(); }
  uint8_t ImplodeDictionary() const { return header_->ImplodeDictionary(); }
  uint8_t ImplodeTreeCount() const { return header_->ImplodeTreeCount(); }

  void SetMadeByVersion(uint16_t value) { header_->VersionMadeBy = value; }
  void SetNeededVersion(uint16_t value) { header_->VersionNeededToExtract = value; }
  void SetFlagBits(uint16_t value) { header_->GeneralPurposeBitFlag = value; }
  void SetMethod(uint16_t value) { header_->SetCompressionMethod(value); }
  void SetStartDisk(uint16_t value) { header_->DiskNumberStart = value; }
  void SetLocalHeaderOffset(uint32_t value) { header_->RelativeOffset = value; }

  TAbZipDirectoryFileHeader& DirectoryHeader() { return *header_; }
  const TAbZipDirectoryFileHeader& DirectoryHeader() const { return *header_; }

 private:
  std::unique_ptr<TAbZipDirectoryFileHeader> header_;
};

}  // namespace velmora
