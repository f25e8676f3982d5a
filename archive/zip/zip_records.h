// The three records of a ZIP directory as this engine reads them: the local
// file header, the central directory header and the end of central
// directory record. Every record is parsed from bytes through one
// bounds-checked little-endian reader; a record that ends early or carries
// the wrong signature is EAbZipInvalid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "rtl/stream.h"

namespace velmora {

// Signatures, from PKWARE's APPNOTE.TXT (sections 4.3.7, 4.3.12, 4.3.16 and
// 8.5.3): "PK" followed by two record bytes, read little-endian.
constexpr uint32_t kAbZipLocalFileHeaderSignature = 0x04034B50;
constexpr uint32_t kAbZipCentralDirectorySignature = 0x02014B50;
constexpr uint32_t kAbZipEndCentralDirectorySignature = 0x06054B50;
// The first four bytes of the first disk of a spanned set, and of a set
// that fitted on one disk ("PK00").
constexpr uint32_t kAbZipSpannedSetSignature = 0x08074B50;
constexpr uint32_t kAbZipPossiblySpannedSignature = 0x30304B50;
// The first two bytes of a plain ZIP, and of a DOS/Windows executable.
constexpr uint16_t kAbZipSignature = 0x4B50;  // "PK"
constexpr uint16_t kAbExeSignature = 0x5A4D;  // "MZ"
// The first four bytes of an ELF program (7F "ELF"): the Linux installer
// is one, with its ZIP appended.
constexpr uint32_t kAbElfSignature = 0x464C457F;

// Fixed sizes of the records before their variable parts.
constexpr int32_t kAbLocalFileHeaderSize = 30;
constexpr int32_t kAbDirectoryFileHeaderSize = 46;
constexpr int32_t kAbDirectoryFileFooterSize = 22;

// General purpose flag bits the engine looks at.
constexpr uint16_t kAbFlagEncrypted = 0x0001;
constexpr uint16_t kAbFlagImplode8KDictionary = 0x0002;
constexpr uint16_t kAbFlagImplode3Trees = 0x0004;
constexpr uint16_t kAbFlagDataDescriptor = 0x0008;
// The name and comment are UTF-8 (APPNOTE appendix D).
constexpr uint16_t kAbFlagUtf8Names = 0x0800;

// Reads little-endian numbers from a byte range; every read is checked
// against the end, and a read past it raises EAbZipInvalid.
class AbByteReader {
 public:
  AbByteReader(const uint8_t* data, size_t size) : cur_(data), end_(data + size) {}
  uint8_t U8();
  uint16_t U16();
  uint32_t U32();
  size_t Remaining() const { return static_cast<size_t>(end_ - cur_); }

 private:
  const uint8_t* cur_;
  const uint8_t* end_;
};

// The one check on untrusted ZIP bytes: raises EAbZipInvalid when ok is
// false.
[[noreturn]] void RaiseZipInvalid();
inline void ZipCheck(bool ok) {
  if (!ok) [[unlikely]]
    RaiseZipInvalid();
}

// Reads exactly count bytes or raises EAbZipInvalid: a record cut short by
// the end of the data is a damaged archive, never a half-filled record.
void ReadRecordBytes(TStream& stream, void* buffer, int32_t count);
uint32_t ReadLittleEndian32(const uint8_t* bytes);

// The part both file headers share.
class TAbZipFileHeader {
 public:
  virtual ~TAbZipFileHeader() = default;

  bool SignatureMatches() const { return Signature == ValidSignature; }
  bool EncryptedFlag() const { return (GeneralPurposeBitFlag & kAbFlagEncrypted) != 0; }
  // 0 when the method is not implode (6); else 2 for an 8 KB dictionary,
  // 1 for 4 KB.
  uint8_t ImplodeDictionary() const;
  // 0 when the method is not implode; else 3 or 2 Shannon-Fano trees.
  uint8_t ImplodeTreeCount() const;
  void SetCompressionMethod(uint16_t value) { CompressionMethod = value & 0x7F; }
  // The name and extra field as text: up to their first zero byte.
  std::string FileNameText() const;
  std::string ExtraFieldText() const;

  uint32_t ValidSignature;
  uint32_t Signature = 0;
  uint16_t VersionNeededToExtract = 0;
  uint16_t GeneralPurposeBitFlag = 0;
  uint16_t CompressionMethod = 0;
  uint16_t LastModFileTime = 0;
  uint16_t LastModFileDate = 0;
  uint32_t CRC32 = 0;
  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;
  uint16_t FileNameLength = 0;
  uint16_t ExtraFieldLength = 0;
  // The stored bytes, exactly FileNameLength and ExtraFieldLength long.
  std::string FileName;
  std::string ExtraField;

 protected:
  explicit TAbZipFileHeader(uint32_t valid_signature) : ValidSignature(valid_signature) {}
  // The variable parts behind the fixed fields.
  void ReadNameAndExtra(TStream& stream);
};

class TAbZipLocalFileHeader : public TAbZipFileHeader {
 public:
  TAbZipLocalFileHeader() : TAbZipFileHeader(kAbZipLocalFileHeaderSignature) {}
  // Reads the record at the stream's position and leaves the stream just
  // behind it.
  void ReadFromStream(TStream& stream);
};

class TAbZipDirectoryFileHeader : public TAbZipFileHeader {
 public:
  TAbZipDirectoryFileHeader() : TAbZipFileHeader(kAbZipCentralDirectorySignature) {}
  void ReadFromStream(TStream& stream);

  // Low byte the version, high byte the host system (0 = MS-DOS).
  uint16_t VersionMadeBy = 0;
  uint16_t FileCommentLength = 0;
  uint16_t DiskNumberStart = 0;
  uint16_t InternalFileAttributes = 0;
  uint32_t ExternalFileAttributes = 0;
  // The local header's position in the file of its disk, counted from that
  // file's first byte.
  uint32_t RelativeOffset = 0;
  std::string FileComment;
};

class TAbZipDirectoryFileFooter {
 public:
  void ReadFromStream(TStream& stream);
  bool SignatureMatches() const { return Signature == ValidSignature; }
  std::string ZipfileCommentText() const;

  uint32_t ValidSignature = kAbZipEndCentralDirectorySignature;
  uint32_t Signature = 0;
  uint16_t DiskNumber = 0;
  uint16_t StartDiskNumber = 0;
  uint16_t EntriesOnDisk = 0;
  uint16_t TotalEntries = 0;
  uint32_t DirectorySize = 0;
  uint32_t DirectoryOffset = 0;
  uint16_t ZipfileCommentLength = 0;
  std::string ZipfileComment;
};

}  // namespace velmora
