#include "archive/zip/zip_records.h"

#include <gtest/gtest.h>

#include "archive/base/exceptions.h"
#include "tests/support/zip_writer.h"

namespace velmora {
namespace {

// The archive writer's names: BuildZip, Bytes, ZipImage, ZipWriterEntry, ...
using namespace velmora::testing;

ZipImage SampleZip() {
  ZipWriterEntry entry{.name = "dir/a.txt", .data = Bytes("hello, world"), .method = 0};
  entry.version_made_by = 0x0314;
  entry.flags = 0x0008;
  entry.local_extra = std::string("LX\x02\x00", 4) + "ab";
  entry.central_extra = std::string("CX\x00\x00", 4);
  entry.comment = "item comment";
  entry.external_attributes = 0x81A40000;
  entry.internal_attributes = 1;
  testing::ZipWriterOptions options;
  options.archive_comment = "the archive";
  return BuildZip({entry}, options);
}

TMemoryStream StreamAt(const std::vector<uint8_t>& bytes, uint32_t position) {
  TMemoryStream stream(bytes);
  stream.Seek(position, soFromBeginning);
  return stream;
}

TEST(ZipRecords, LocalHeaderReadsEveryFieldAndStopsBehindIt) {
  ZipImage zip = SampleZip();
  TMemoryStream stream = StreamAt(zip.bytes, zip.local_header_positions[0]);
  TAbZipLocalFileHeader header;
  header.ReadFromStream(stream);
  EXPECT_TRUE(header.SignatureMatches());
  EXPECT_EQ(header.VersionNeededToExtract, 20);
  EXPECT_EQ(header.GeneralPurposeBitFlag, 0x0008);
  EXPECT_EQ(header.CompressionMethod, 0);
  EXPECT_EQ(header.LastModFileTime, testing::kZipTestDosTime);
  EXPECT_EQ(header.LastModFileDate, testing::kZipTestDosDate);
  EXPECT_EQ(header.CRC32, testing::Crc32Of(Bytes("hello, world")));
  EXPECT_EQ(header.CompressedSize, 12u);
  EXPECT_EQ(header.UncompressedSize, 12u);
  EXPECT_EQ(header.FileName, "dir/a.txt");
  EXPECT_EQ(header.ExtraField.size(), 6u);
  EXPECT_EQ(stream.Position(), zip.local_header_positions[0] + 30 + 9 + 6);
}

TEST(ZipRecords, CentralHeaderReadsEveryField) {
  ZipImage zip = SampleZip();
  TMemoryStream stream = StreamAt(zip.bytes, zip.central_header_positions[0]);
  TAbZipDirectoryFileHeader header;
  header.ReadFromStream(stream);
  EXPECT_EQ(header.VersionMadeBy, 0x0314);
  EXPECT_EQ(header.FileCommentLength, 12);
  EXPECT_EQ(header.FileComment, "item comment");
  EXPECT_EQ(header.InternalFileAttributes, 1);
  EXPECT_EQ(header.ExternalFileAttributes, 0x81A40000u);
  EXPECT_EQ(header.RelativeOffset, 0u);
  // Extra data read as text ends at its first zero byte.
  EXPECT_EQ(header.ExtraFieldText(), "CX");
  EXPECT_EQ(stream.Position(), zip.end_record_position);
}

TEST(ZipRecords, EndRecordReadsCountsOffsetsAndComment) {
  ZipImage zip = SampleZip();
  TMemoryStream stream = StreamAt(zip.bytes, zip.end_record_position);
  TAbZipDirectoryFileFooter footer;
  footer.ReadFromStream(stream);
  EXPECT_EQ(footer.DiskNumber, 0);
  EXPECT_EQ(footer.EntriesOnDisk, 1);
  EXPECT_EQ(footer.TotalEntries, 1);
  EXPECT_EQ(footer.DirectoryOffset, zip.directory_position);
  EXPECT_EQ(footer.DirectorySize, zip.end_record_position - zip.directory_position);
  EXPECT_EQ(footer.ZipfileComment, "the archive");
  EXPECT_EQ(stream.Position(), static_cast<int64_t>(zip.bytes.size()));
}

TEST(ZipRecords, WrongSignatureFailsOnlyAfterTheWholeRecord) {
  ZipImage zip = SampleZip();
  zip.bytes[zip.central_header_positions[0] + 2] = 'X';
  TMemoryStream stream = StreamAt(zip.bytes, zip.central_header_positions[0]);
  TAbZipDirectoryFileHeader header;
  try {
    header.ReadFromStream(stream);
    FAIL() << "accepted";
  } catch (const EAbZipInvalid& e) {
    EXPECT_STREQ(e.what(), "Invalid file - not a PKZip file");
    EXPECT_EQ(e.ErrorCode, AbErrZipInvalid);
  }
  EXPECT_EQ(stream.Position(), zip.end_record_position);
}

TEST(ZipRecords, RecordCutShortAnywhereIsInvalid) {
  ZipImage zip = SampleZip();
  const uint32_t start = zip.central_header_positions[0];
  const uint32_t length = zip.end_record_position - start;
  for (uint32_t keep = 0; keep < length; ++keep) {
    std::vector<uint8_t> cut(zip.bytes.begin(), zip.bytes.begin() + start + keep);
    TMemoryStream stream = StreamAt(cut, start);
    TAbZipDirectoryFileHeader header;
    EXPECT_THROW(header.ReadFromStream(stream), EAbZipInvalid) << keep;
  }
  for (uint32_t keep = 0; keep < 22 + 11; ++keep) {
    std::vector<uint8_t> cut(zip.bytes.begin(), zip.bytes.begin() + zip.end_record_position + keep);
    TMemoryStream stream = StreamAt(cut, zip.end_record_position);
    TAbZipDirectoryFileFooter footer;
    EXPECT_THROW(footer.ReadFromStream(stream), EAbZipInvalid) << keep;
  }
}

TEST(ZipRecords, ImplodeSettingsFollowTheFlagsOnlyForMethodSix) {
  TAbZipLocalFileHeader header;
  header.GeneralPurposeBitFlag = kAbFlagImplode8KDictionary | kAbFlagImplode3Trees;
  header.CompressionMethod = 8;
  EXPECT_EQ(header.ImplodeDictionary(), 0);
  EXPECT_EQ(header.ImplodeTreeCount(), 0);
  header.CompressionMethod = 6;
  EXPECT_EQ(header.ImplodeDictionary(), 2);
  EXPECT_EQ(header.ImplodeTreeCount(), 3);
  header.GeneralPurposeBitFlag = kAbFlagEncrypted;
  EXPECT_EQ(header.ImplodeDictionary(), 1);
  EXPECT_EQ(header.ImplodeTreeCount(), 2);
  EXPECT_TRUE(header.EncryptedFlag());
  header.SetCompressionMethod(0x1FF);
  EXPECT_EQ(header.CompressionMethod, 0x7F);
}

TEST(ZipRecords, ByteReaderRefusesToReadPastItsEnd) {
  const uint8_t bytes[] = {0x50, 0x4B, 0x05};
  AbByteReader in(bytes, sizeof bytes);
  EXPECT_EQ(in.U16(), 0x4B50);
  EXPECT_THROW(in.U16(), EAbZipInvalid);
  EXPECT_EQ(in.U8(), 0x05);
  EXPECT_THROW(in.U8(), EAbZipInvalid);
}

}  // namespace
}  // namespace velmora
