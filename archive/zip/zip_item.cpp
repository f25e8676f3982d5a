#include "archive/zip/zip_item.h"

#include "archive/checksum/crc32.h"
#include "platform/win32.h"

namespace velmora {

namespace {

// Info-ZIP's extended timestamp: a flags byte (1 modification, 2 access, 4
// creation time present), then the times in that order as signed 32-bit
// seconds. A central header carries at most the modification time, with
// the local header's flags.
void ReadTimestamp(const TAbExtraBlock& block, TAbUnixExtra& out) {
  AbByteReader in(block.Data, block.Size);
  if (in.Remaining() < 1) return;
  const uint8_t flags = in.U8();
  if ((flags & 1) != 0 && in.Remaining() >= 4) {
    out.ModificationTime = static_cast<int32_t>(in.U32());
  }
  if ((flags & 2) != 0 && in.Remaining() >= 4) out.AccessTime = static_cast<int32_t>(in.U32());
}

// "ux": a version (1), then the uid and the gid, each as a size byte and
// that many little-endian bytes. Sizes beyond 4 bytes are read only when
// the value still fits in 32 bits.
void ReadUnixOwner(const TAbExtraBlock& block, TAbUnixExtra& out) {
  AbByteReader in(block.Data, block.Size);
  if (in.Remaining() < 1 || in.U8() != 1) return;
  std::optional<uint32_t> ids[2];
  for (auto& id : ids) {
    if (in.Remaining() < 1) return;
    const uint8_t size = in.U8();
    if (size > in.Remaining()) return;
    uint64_t value = 0;
    const uint8_t* bytes = in.Here();
    for (uint8_t i = 0; i < size; ++i) {
      if (i >= 4 && bytes[i] != 0) return;
      if (i < 4) value |= uint64_t{bytes[i]} << (8 * i);
    }
    in.Skip(size);
    id = static_cast<uint32_t>(value);
  }
  out.Uid = ids[0];
  out.Gid = ids[1];
}

// The older "UX": access and modification time (32-bit, unsigned), then in
// local headers only a 16-bit uid and gid. PKWARE's Unix field starts with
// the same four values, and unzip takes its times where nothing else
// gives them.
void ReadOldUnix(const TAbExtraBlock& block, TAbUnixExtra& out) {
  AbByteReader in(block.Data, block.Size);
  if (in.Remaining() < 8) return;
  const uint32_t access = in.U32();
  const uint32_t modification = in.U32();
  if (!out.ModificationTime) out.ModificationTime = modification;
  if (!out.AccessTime) out.AccessTime = access;
  if (in.Remaining() >= 4 && !out.Uid) {
    out.Uid = in.U16();
    out.Gid = in.U16();
  }
}

// "up": a version (1), the CRC-32 of the stored name it stands for, the
// UTF-8 name. A CRC that does not match means the name was changed by a
// tool that did not know the field: the stored name is the newer one.
std::string ReadUnicodePath(const TAbExtraBlock& block, const std::string& stored_name) {
  AbByteReader in(block.Data, block.Size);
  if (in.Remaining() < 5 || in.U8() != 1) return {};
  const uint32_t name_crc = in.U32();
  uint32_t crc = 0xFFFFFFFFu;
  UpdateCrc32Buffer(crc, stored_name.data(), static_cast<int32_t>(stored_name.size()));
  if (~crc != name_crc) return {};
  std::string name(reinterpret_cast<const char*>(in.Here()), in.Remaining());
  return name.substr(0, name.find('\0'));
}

}  // namespace

TAbZipItem::TAbZipItem() : header_(std::make_unique<TAbZipDirectoryFileHeader>()) {}
TAbZipItem::~TAbZipItem() = default;

void TAbZipItem::ReadFromStream(TStream& stream) {
  header_->ReadFromStream(stream);
  ReadExtraFields();
  // The name lives in the header; GetStoredName converts it when asked, so
  // no copy is kept in the base item (a many-files archive keeps enough).
  dos_time_ = header_->LastModFileTime;
  dos_date_ = header_->LastModFileDate;
  DiskName = GetStoredName();
  for (char& c : DiskName) {
    if (c == '/') c = '\\';
  }
  PendingAction = iaNone;
  Marked = false;
}

int64_t TAbZipItem::GetPackedSize() const {
  return static_cast<int64_t>(header_->CompressedSize64);
}
uint32_t TAbZipItem::GetCrc32() const { return header_->CRC32; }
uint32_t TAbZipItem::GetHostAttributes() const { return header_->ExternalFileAttributes; }
bool TAbZipItem::GetEncrypted() const { return header_->EncryptedFlag(); }
uint16_t TAbZipItem::GetDosDate() const { return header_->LastModFileDate; }
uint16_t TAbZipItem::GetDosTime() const { return header_->LastModFileTime; }
int64_t TAbZipItem::GetUnpackedSize() const {
  return static_cast<int64_t>(header_->UncompressedSize64);
}

std::string TAbZipItem::GetStoredName() const {
  if (!unicode_name_.empty()) return unicode_name_;
  std::string name = header_->FileNameText();
  if (name.empty()) return name;
  // Names of any length are converted whole; the conversion returns a
  // string, so no fixed buffer bounds them.
  bool made_on_dos = (header_->VersionMadeBy >> 8) == kAbHostMsDos;
  bool utf8 = (header_->GeneralPurposeBitFlag & kAbFlagUtf8Names) != 0;
  if (made_on_dos && !utf8 && AreFileApisANSI()) return OemToCharA(name);
  return name;
}

std::optional<int64_t> TAbZipItem::UnixModificationTime() const {
  const std::optional<int64_t>& time = unix_extra_.ModificationTime;
  if (!time || *time >= 0) return time;
  // An extended timestamp with its top bit set: unzip reads it unsigned
  // (2038 to 2106) when the DOS time is past 2038-01-18 as well, and
  // otherwise takes it for no time at all.
  constexpr uint32_t kDos20380118 = ((2038u - 1980u) << 25) | (1u << 21) | (18u << 16);
  const uint32_t dos = (uint32_t{header_->LastModFileDate} << 16) | header_->LastModFileTime;
  if (dos < kDos20380118) return std::nullopt;
  return *time + (int64_t{1} << 32);
}

void TAbZipItem::SetPackedSize(int64_t value) {
  header_->CompressedSize64 = static_cast<uint64_t>(value);
  header_->CompressedSize = static_cast<uint32_t>(std::min<uint64_t>(value, kAbZip64Marker32));
}
void TAbZipItem::SetCrc32(uint32_t value) { header_->CRC32 = value; }
void TAbZipItem::SetHostAttributes(uint32_t value) { header_->ExternalFileAttributes = value; }
void TAbZipItem::SetDosDate(uint16_t value) { header_->LastModFileDate = value; }
void TAbZipItem::SetDosTime(uint16_t value) { header_->LastModFileTime = value; }

void TAbZipItem::SetStoredName(const std::string& value) {
  stored_name_ = value;
  unicode_name_.clear();
  header_->FileName = value;
  header_->FileNameLength = static_cast<uint16_t>(value.size());
}

void TAbZipItem::SetUnpackedSize(int64_t value) {
  unpacked_size_ = value;
  header_->UncompressedSize64 = static_cast<uint64_t>(value);
  header_->UncompressedSize = static_cast<uint32_t>(std::min<uint64_t>(value, kAbZip64Marker32));
}

}  // namespace velmora

namespace velmora {

void TAbZipItem::ReadExtraFields() {
  const std::string& extra = header_->ExtraField;
  unicode_name_.clear();
  unix_extra_ = {};
  if (extra.empty()) return;
  if (auto block = FindExtraBlock(extra, kAbExtraUnicodePath)) {
    unicode_name_ = ReadUnicodePath(*block, header_->FileName);
  }
  if (auto block = FindExtraBlock(extra, kAbExtraTimestamp)) ReadTimestamp(*block, unix_extra_);
  if (auto block = FindExtraBlock(extra, kAbExtraUnixOwner)) ReadUnixOwner(*block, unix_extra_);
  if (auto block = FindExtraBlock(extra, kAbExtraUnixOld)) ReadOldUnix(*block, unix_extra_);
  if (auto block = FindExtraBlock(extra, kAbExtraPkwareUnix)) ReadOldUnix(*block, unix_extra_);
}

}  // namespace velmora
