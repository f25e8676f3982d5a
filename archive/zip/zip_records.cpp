#include "archive/zip/zip_records.h"

#include "archive/base/exceptions.h"

namespace velmora {

void RaiseZipInvalid() { throw EAbZipInvalid(); }

uint8_t AbByteReader::U8() {
  ZipCheck(1 <= end_ - cur_);
  return *cur_++;
}

uint16_t AbByteReader::U16() {
  ZipCheck(2 <= end_ - cur_);
  uint16_t v = static_cast<uint16_t>(cur_[0] | (cur_[1] << 8));
  cur_ += 2;
  return v;
}

uint32_t AbByteReader::U32() {
  ZipCheck(4 <= end_ - cur_);
  uint32_t v = ReadLittleEndian32(cur_);
  cur_ += 4;
  return v;
}

uint64_t AbByteReader::U64() {
  uint64_t low = U32();
  uint64_t high = U32();
  return low | (high << 32);
}

void AbByteReader::Skip(size_t count) {
  ZipCheck(count <= Remaining());
  cur_ += count;
}

std::optional<TAbExtraBlock> FindExtraBlock(const std::string& extra, uint16_t id) {
  const auto* data = reinterpret_cast<const uint8_t*>(extra.data());
  size_t at = 0;
  while (extra.size() - at >= 4) {  // at never passes the end
    TAbExtraBlock block;
    block.Id = static_cast<uint16_t>(data[at] | (data[at + 1] << 8));
    block.Size = static_cast<uint16_t>(data[at + 2] | (data[at + 3] << 8));
    at += 4;
    if (block.Size > extra.size() - at) break;
    block.Data = data + at;
    if (block.Id == id) return block;
    at += block.Size;
  }
  return std::nullopt;
}

uint32_t ReadLittleEndian32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

void ReadRecordBytes(TStream& stream, void* buffer, int32_t count) {
  auto* out = static_cast<uint8_t*>(buffer);
  int32_t done = 0;
  while (done < count) {
    int32_t n = stream.Read(out + done, count - done);
    ZipCheck(n > 0);
    done += n;
  }
}

namespace {

// A variable part of length bytes, or empty when length is 0.
std::string ReadVariablePart(TStream& stream, uint16_t length) {
  std::string text(length, '\0');
  if (length != 0) ReadRecordBytes(stream, text.data(), length);
  return text;
}

std::string UpToFirstZero(const std::string& bytes) { return bytes.substr(0, bytes.find('\0')); }

// Takes the next 64-bit value of a ZIP64 extra block when the 32-bit field
// holds the marker; a block too short for it leaves the field as it is.
void TakeZip64Value(AbByteReader& in, uint32_t field, uint64_t& value) {
  value = field;
  if (field == kAbZip64Marker32 && in.Remaining() >= 8) value = in.U64();
  // Sizes and offsets go through signed 64-bit positions: nothing real
  // reaches 2^63.
  ZipCheck(value <= static_cast<uint64_t>(INT64_MAX));
}


}  // namespace

uint8_t TAbZipFileHeader::ImplodeDictionary() const {
  if (CompressionMethod != 6) return 0;
  return (GeneralPurposeBitFlag & kAbFlagImplode8KDictionary) != 0 ? 2 : 1;
}

uint8_t TAbZipFileHeader::ImplodeTreeCount() const {
  if (CompressionMethod != 6) return 0;
  return (GeneralPurposeBitFlag & kAbFlagImplode3Trees) != 0 ? 3 : 2;
}

std::string TAbZipFileHeader::FileNameText() const { return UpToFirstZero(FileName); }
std::string TAbZipFileHeader::ExtraFieldText() const { return UpToFirstZero(ExtraField); }

void TAbZipFileHeader::ReadNameAndExtra(TStream& stream) {
  FileName = ReadVariablePart(stream, FileNameLength);
  ExtraField = ReadVariablePart(stream, ExtraFieldLength);
  CompressedSize64 = CompressedSize;
  UncompressedSize64 = UncompressedSize;
}

void TAbZipLocalFileHeader::ReadFromStream(TStream& stream) {
  uint8_t fixed[kAbLocalFileHeaderSize];
  ReadRecordBytes(stream, fixed, sizeof fixed);
  AbByteReader in(fixed, sizeof fixed);
  Signature = in.U32();
  VersionNeededToExtract = in.U16();
  GeneralPurposeBitFlag = in.U16();
  CompressionMethod = in.U16();
  LastModFileTime = in.U16();
  LastModFileDate = in.U16();
  CRC32 = in.U32();
  CompressedSize = in.U32();
  UncompressedSize = in.U32();
  FileNameLength = in.U16();
  ExtraFieldLength = in.U16();
  ReadNameAndExtra(stream);
  // The signature is judged only once the whole record is in.
  ZipCheck(SignatureMatches());
  // A local header's ZIP64 block holds both sizes whenever it holds one
  // (APPNOTE 4.5.3), in the same order as the central one's.
  if (auto block = FindExtraBlock(ExtraField, kAbExtraZip64)) {
    AbByteReader in(block->Data, block->Size);
    const bool both = in.Remaining() >= 16 && (CompressedSize == kAbZip64Marker32 ||
                                               UncompressedSize == kAbZip64Marker32);
    if (both) {
      UncompressedSize64 = in.U64();
      CompressedSize64 = in.U64();
    } else {
      TakeZip64Value(in, UncompressedSize, UncompressedSize64);
      TakeZip64Value(in, CompressedSize, CompressedSize64);
    }
  }
}

void TAbZipDirectoryFileHeader::ReadFromStream(TStream& stream) {
  uint8_t fixed[kAbDirectoryFileHeaderSize];
  ReadRecordBytes(stream, fixed, sizeof fixed);
  AbByteReader in(fixed, sizeof fixed);
  Signature = in.U32();
  VersionMadeBy = in.U16();
  VersionNeededToExtract = in.U16();
  GeneralPurposeBitFlag = in.U16();
  CompressionMethod = in.U16();
  LastModFileTime = in.U16();
  LastModFileDate = in.U16();
  CRC32 = in.U32();
  CompressedSize = in.U32();
  UncompressedSize = in.U32();
  FileNameLength = in.U16();
  ExtraFieldLength = in.U16();
  FileCommentLength = in.U16();
  DiskNumberStart = in.U16();
  InternalFileAttributes = in.U16();
  ExternalFileAttributes = in.U32();
  RelativeOffset = in.U32();
  ReadNameAndExtra(stream);
  FileComment = ReadVariablePart(stream, FileCommentLength);
  ZipCheck(SignatureMatches());
  RelativeOffset64 = RelativeOffset;
  // Only the fields whose 32-bit value is the marker are in the block, in
  // this order (APPNOTE 4.5.3).
  if (auto block = FindExtraBlock(ExtraField, kAbExtraZip64)) {
    AbByteReader in(block->Data, block->Size);
    TakeZip64Value(in, UncompressedSize, UncompressedSize64);
    TakeZip64Value(in, CompressedSize, CompressedSize64);
    TakeZip64Value(in, RelativeOffset, RelativeOffset64);
    if (DiskNumberStart == kAbZip64Marker16 && in.Remaining() >= 4) {
      const uint32_t disk = in.U32();
      // Sets of more than 65,535 disks are not read.
      ZipCheck(disk < kAbZip64Marker16);
      DiskNumberStart = static_cast<uint16_t>(disk);
    }
  }
}

void TAbZipDirectoryFileFooter::ReadFromStream(TStream& stream) {
  uint8_t fixed[kAbDirectoryFileFooterSize];
  ReadRecordBytes(stream, fixed, sizeof fixed);
  AbByteReader in(fixed, sizeof fixed);
  Signature = in.U32();
  DiskNumber = in.U16();
  StartDiskNumber = in.U16();
  EntriesOnDisk = in.U16();
  TotalEntries = in.U16();
  DirectorySize = in.U32();
  DirectoryOffset = in.U32();
  ZipfileCommentLength = in.U16();
  ZipfileComment = ReadVariablePart(stream, ZipfileCommentLength);
  ZipCheck(SignatureMatches());
}

std::string TAbZipDirectoryFileFooter::ZipfileCommentText() const {
  return UpToFirstZero(ZipfileComment);
}

}  // namespace velmora

namespace velmora {

void TAbZip64EndRecord::ReadFromStream(TStream& stream) {
  uint8_t fixed[kAbZip64EndSize];
  ReadRecordBytes(stream, fixed, sizeof fixed);
  AbByteReader in(fixed, sizeof fixed);
  ZipCheck(in.U32() == kAbZip64EndSignature);
  RecordSize = in.U64();
  VersionMadeBy = in.U16();
  VersionNeededToExtract = in.U16();
  DiskNumber = in.U32();
  StartDiskNumber = in.U32();
  EntriesOnDisk = in.U64();
  TotalEntries = in.U64();
  DirectorySize = in.U64();
  DirectoryOffset = in.U64();
  ZipCheck(DirectorySize <= static_cast<uint64_t>(INT64_MAX) &&
           DirectoryOffset <= static_cast<uint64_t>(INT64_MAX));
}

bool TAbZip64Locator::ReadFromStream(TStream& stream) {
  uint8_t fixed[kAbZip64LocatorSize];
  int32_t done = 0;
  for (int32_t n = 1; done < kAbZip64LocatorSize && n > 0; done += n) {
    n = stream.Read(fixed + done, kAbZip64LocatorSize - done);
    if (n <= 0) return false;
  }
  AbByteReader in(fixed, sizeof fixed);
  if (in.U32() != kAbZip64LocatorSignature) return false;
  EndRecordDisk = in.U32();
  EndRecordOffset = in.U64();
  TotalDisks = in.U32();
  return true;
}

}  // namespace velmora
