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
