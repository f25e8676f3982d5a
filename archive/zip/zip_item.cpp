#include "archive/zip/zip_item.h"

#include "platform/win32.h"

namespace velmora {

TAbZipItem::TAbZipItem() : header_(std::make_unique<TAbZipDirectoryFileHeader>()) {}
TAbZipItem::~TAbZipItem() = default;

void TAbZipItem::ReadFromStream(TStream& stream) {
  header_->ReadFromStream(stream);
  stored_name_ = header_->FileNameText();
  dos_time_ = header_->LastModFileTime;
  dos_date_ = header_->LastModFileDate;
  std::string disk_name = GetStoredName();
  for (char& c : disk_name) {
    if (c == '/') c = '\\';
  }
  DiskName = disk_name;
  PendingAction = iaNone;
  Marked = false;
}

int32_t TAbZipItem::GetPackedSize() const { return static_cast<int32_t>(header_->CompressedSize); }
uint32_t TAbZipItem::GetCrc32() const { return header_->CRC32; }
uint32_t TAbZipItem::GetHostAttributes() const { return header_->ExternalFileAttributes; }
bool TAbZipItem::GetEncrypted() const { return header_->EncryptedFlag(); }
uint16_t TAbZipItem::GetDosDate() const { return header_->LastModFileDate; }
uint16_t TAbZipItem::GetDosTime() const { return header_->LastModFileTime; }
int32_t TAbZipItem::GetUnpackedSize() const {
  return static_cast<int32_t>(header_->UncompressedSize);
}

std::string TAbZipItem::GetStoredName() const {
  std::string name = header_->FileNameText();
  if (name.empty()) return name;
  // Names of any length are converted whole; the conversion returns a
  // string, so no fixed buffer bounds them.
  bool made_on_dos = (header_->VersionMadeBy >> 8) == kAbHostMsDos;
  bool utf8 = (header_->GeneralPurposeBitFlag & kAbFlagUtf8Names) != 0;
  if (made_on_dos && !utf8 && AreFileApisANSI()) return OemToCharA(name);
  return name;
}

void TAbZipItem::SetPackedSize(int32_t value) {
  header_->CompressedSize = static_cast<uint32_t>(value);
}
void TAbZipItem::SetCrc32(uint32_t value) { header_->CRC32 = value; }
void TAbZipItem::SetHostAttributes(uint32_t value) { header_->ExternalFileAttributes = value; }
void TAbZipItem::SetDosDate(uint16_t value) { header_->LastModFileDate = value; }
void TAbZipItem::SetDosTime(uint16_t value) { header_->LastModFileTime = value; }

void TAbZipItem::SetStoredName(const std::string& value) {
  stored_name_ = value;
  header_->FileName = value;
  header_->FileNameLength = static_cast<uint16_t>(value.size());
}

void TAbZipItem::SetUnpackedSize(int32_t value) {
  unpacked_size_ = value;
  header_->UncompressedSize = static_cast<uint32_t>(value);
}

}  // namespace velmora
