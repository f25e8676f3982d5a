// The three records of a ZIP directory as this engine reads them: the local
// file header, the central directory header and the end of central
// directory record. Every record is parsed from bytes through one
// bounds-checked little-endian reader; a record that ends early or carries
// the wrong signature is EAbZipInvalid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "archive/base/exceptions.h"
#include "rtl/stream.h"

namespace velmora {

// Signatures, from PKWARE's APPNOTE.TXT (sections 4.3.7, 4.3.12, 4.3.16 and
// 8.5.3): "PK" followed by two record bytes, read little-endian.
constexpr uint32_t kAbZipLocalFileHeaderSignature = 0x04034B50;
constexpr uint32_t kAbZipCentralDirectorySignature = 0x02014B50;
constexpr uint32_t kAbZipEndCentralDirectorySignature = 0x06054B50;
// The ZIP64 end of central directory record and its locator (APPNOTE
// 4.3.14 and 4.3.15), which carry the 64-bit counts, sizes and offsets.
constexpr uint32_t kAbZip64EndSignature = 0x06064B50;
constexpr uint32_t kAbZip64LocatorSignature = 0x07064B50;
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
constexpr int32_t kAbZip64EndSize = 56;
constexpr int32_t kAbZip64LocatorSize = 20;

// A 32-bit field holding this (a 16-bit one, 0xFFFF) says that the real
// value is in the ZIP64 extra field or the ZIP64 end record.
constexpr uint32_t kAbZip64Marker32 = 0xFFFFFFFF;
constexpr uint16_t kAbZip64Marker16 = 0xFFFF;

// Extra field block ids this engine reads (APPNOTE 4.5 and 4.6; the "ux",
// "UT", "up" and "Ux" ids are Info-ZIP's own, documented in its
// extrafld.txt).
constexpr uint16_t kAbExtraZip64 = 0x0001;
constexpr uint16_t kAbExtraPkwareUnix = 0x000d;
constexpr uint16_t kAbExtraTimestamp = 0x5455;      // "UT"
constexpr uint16_t kAbExtraUnixOld = 0x5855;        // "UX"
constexpr uint16_t kAbExtraUnicodePath = 0x7075;    // "up"
constexpr uint16_t kAbExtraUnixOwner = 0x7875;      // "ux"

// General purpose flag bits the engine looks at.
constexpr uint16_t kAbFlagEncrypted = 0x0001;
constexpr uint16_t kAbFlagImplode8KDictionary = 0x0002;
constexpr uint16_t kAbFlagImplode3Trees = 0x0004;
constexpr uint16_t kAbFlagDataDescriptor = 0x0008;
// Data patched against an earlier version, and PKWARE's strong encryption:
// neither can be extracted by this engine.
constexpr uint16_t kAbFlagPatchedData = 0x0020;
constexpr uint16_t kAbFlagStrongEncryption = 0x0040;
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
  uint64_t U64();
  void Skip(size_t count);
  const uint8_t* Here() const { return cur_; }
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

// A damaged directory whose fault can be named: the message says what is
// impossible about it, so a person can tell a hostile archive from a cut
// one.
class EAbZipBadDirectory : public EAbZipInvalid {
 public:
  explicit EAbZipBadDirectory(std::string message)
      : EAbZipInvalid(std::move(message), AbErrZipInvalid) {}
};

// Two items whose data share bytes, or an item whose data runs into the
// directory: the way a "zip bomb" multiplies its output. Refused whole.
class EAbZipOverlap : public EAbZipInvalid {
 public:
  explicit EAbZipOverlap(std::string message)
      : EAbZipInvalid(std::move(message), AbErrZipInvalid) {}
};

// An item that needs what the engine cannot do (strong encryption, patched
// data): refused as an unsupported method is.
class EAbZipUnsupportedFeature : public EAbZipInvalidMethod {
 public:
  explicit EAbZipUnsupportedFeature(std::string message)
      : EAbZipInvalidMethod(std::move(message), AbUnknownCompressionMethod) {}
};

// One block of an extra field: its id and its data.
struct TAbExtraBlock {
  uint16_t Id = 0;
  const uint8_t* Data = nullptr;
  uint16_t Size = 0;
};

// The first block with this id in an extra field, or nullopt. A block whose
// size runs past the field's end ends the walk: the blocks before it count.
std::optional<TAbExtraBlock> FindExtraBlock(const std::string& extra, uint16_t id);

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
  // The sizes as they are: the 32-bit fields, or the ZIP64 extra field's
  // values where those hold the 0xFFFFFFFF marker.
  uint64_t CompressedSize64 = 0;
  uint64_t UncompressedSize64 = 0;

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
  // RelativeOffset from the ZIP64 extra field where it holds the marker;
  // the reader adds the archive's shift to it.
  uint64_t RelativeOffset64 = 0;
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

// The ZIP64 end record: the same values as the end record, in 64 bits.
class TAbZip64EndRecord {
 public:
  // Reads the fixed part at the stream's position; the extensible data
  // behind it is not read.
  void ReadFromStream(TStream& stream);

  uint64_t RecordSize = 0;
  uint16_t VersionMadeBy = 0;
  uint16_t VersionNeededToExtract = 0;
  uint32_t DiskNumber = 0;
  uint32_t StartDiskNumber = 0;
  uint64_t EntriesOnDisk = 0;
  uint64_t TotalEntries = 0;
  uint64_t DirectorySize = 0;
  uint64_t DirectoryOffset = 0;
};

// The locator right in front of the end record: where the ZIP64 end record
// is.
class TAbZip64Locator {
 public:
  // false (and nothing thrown) when the bytes are not a locator.
  bool ReadFromStream(TStream& stream);

  uint32_t EndRecordDisk = 0;
  uint64_t EndRecordOffset = 0;
  uint32_t TotalDisks = 0;
};

}  // namespace velmora
