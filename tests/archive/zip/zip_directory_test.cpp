#include "archive/zip/zip_directory.h"

#include <gtest/gtest.h>

#include "archive/zip/zip_records.h"
#include "tests/support/zip_writer.h"

namespace velmora {
namespace {

// The archive writer's names: BuildZip, Bytes, ZipImage, ZipWriterEntry, ...
using namespace velmora::testing;

std::vector<ZipWriterEntry> TwoEntries() {
  return {{.name = "a.txt", .data = Bytes("alpha")},
          {.name = "b.txt", .data = Bytes(std::string(300, 'b')), .method = 8}};
}

ZipImage WithComment(size_t comment_size) {
  ZipWriterOptions options;
  options.archive_comment = std::string(comment_size, 'c');
  return BuildZip(TwoEntries(), options);
}

TEST(ZipEndOfDirectory, RecordWithoutCommentIsTheLastTwentyTwoBytes) {
  ZipImage zip = BuildZip(TwoEntries());
  TMemoryStream stream(zip.bytes);
  EXPECT_EQ(FindEndOfDirectory(stream), static_cast<int64_t>(zip.bytes.size()) - 22);
  EXPECT_EQ(stream.Position(), static_cast<int64_t>(zip.bytes.size()) - 22);
}

TEST(ZipEndOfDirectory, HundredByteCommentIsFoundInTheFirstWindow) {
  ZipImage zip = WithComment(100);
  TMemoryStream stream(zip.bytes);
  EXPECT_EQ(FindEndOfDirectory(stream), zip.end_record_position);
  EXPECT_EQ(stream.Position(), zip.end_record_position);
}

TEST(ZipEndOfDirectory, SixtyThousandByteCommentIsFoundInALaterWindow) {
  ZipImage zip = WithComment(60000);
  TMemoryStream stream(zip.bytes);
  EXPECT_EQ(FindEndOfDirectory(stream), zip.end_record_position);
}

TEST(ZipEndOfDirectory, NoRecordIsMissedAtAnyDistanceFromTheEnd) {
  // Covers records that start just in front of a window: the windows
  // overlap by a whole record.
  for (size_t comment = 0; comment <= 3700; ++comment) {
    ZipImage zip = WithComment(comment);
    TMemoryStream stream(zip.bytes);
    ASSERT_EQ(FindEndOfDirectory(stream), zip.end_record_position) << comment;
  }
}

TEST(ZipEndOfDirectory, BytesBehindTheCommentAreTolerated) {
  ZipWriterOptions options;
  options.archive_comment = "note";
  options.trailer = std::vector<uint8_t>(14, 0xEE);
  ZipImage zip = BuildZip(TwoEntries(), options);
  TMemoryStream stream(zip.bytes);
  EXPECT_EQ(FindEndOfDirectory(stream), zip.end_record_position);
}

TEST(ZipEndOfDirectory, FindsTheRecordBelowAFalseSignatureInItsComment) {
  ZipWriterOptions options;
  // A signature in the comment whose comment length cannot fit.
  options.archive_comment = std::string("xxPK\x05\x06", 6) + std::string(14, '\xFF') + "tail";
  ZipImage zip = BuildZip(TwoEntries(), options);
  TMemoryStream stream(zip.bytes);
  EXPECT_EQ(FindEndOfDirectory(stream), zip.end_record_position);
}

TEST(ZipEndOfDirectory, MissingRecordGivesMinusOneAndRestoresThePosition) {
  ZipImage zip = BuildZip(TwoEntries());
  zip.bytes.resize(zip.end_record_position + 10);
  TMemoryStream stream(zip.bytes);
  stream.Seek(7, soFromBeginning);
  EXPECT_EQ(FindEndOfDirectory(stream), -1);
  EXPECT_EQ(stream.Position(), 7);
}

TEST(ZipEndOfDirectory, CommentLongerThanTheRestOfTheFileIsNoRecord) {
  ZipWriterOptions options;
  options.archive_comment = "short";
  options.comment_length = 200;
  ZipImage zip = BuildZip(TwoEntries(), options);
  TMemoryStream stream(zip.bytes);
  EXPECT_EQ(FindEndOfDirectory(stream), -1);
  EXPECT_EQ(CheckZipFile(stream), akUnknown);
}

TEST(ZipKindChecks, TenByteFileIsUnknown) {
  TMemoryStream stream(Bytes("PK\x05\x06xxxxxx"));
  EXPECT_EQ(CheckZipFile(stream), akUnknown);
  EXPECT_EQ(CheckSelfExtractingFile(stream), akUnknown);
  TMemoryStream empty;
  EXPECT_EQ(CheckZipFile(empty), akUnknown);
}

TEST(ZipKindChecks, PlainZipIsZipAndNotSelfExtracting) {
  ZipImage zip = BuildZip(TwoEntries());
  TMemoryStream stream(zip.bytes);
  stream.Seek(5, soFromBeginning);
  EXPECT_EQ(CheckZipFile(stream), akZip);
  EXPECT_EQ(stream.Position(), 5);
  EXPECT_EQ(CheckSelfExtractingFile(stream), akUnknown);
  EXPECT_EQ(stream.Position(), 5);
}

TEST(ZipKindChecks, SpannedMarkersMakeASpannedZip) {
  for (uint32_t marker : {kAbZipSpannedSetSignature, kAbZipPossiblySpannedSignature}) {
    std::vector<uint8_t> bytes = {static_cast<uint8_t>(marker),
                                  static_cast<uint8_t>(marker >> 8),
                                  static_cast<uint8_t>(marker >> 16),
                                  static_cast<uint8_t>(marker >> 24),
                                  0,
                                  0};
    TMemoryStream stream(bytes);
    EXPECT_EQ(CheckZipFile(stream), akSpannedZip);
  }
}

TEST(ZipKindChecks, ProgramsWithAZipBehindThemAreSelfExtracting) {
  ZipWriterOptions options;
  options.stub = testing::MakePeStubWithCertificate(0x400, 0x80);
  ZipImage pe = BuildZip(TwoEntries(), options);
  TMemoryStream pe_stream(pe.bytes);
  EXPECT_EQ(CheckZipFile(pe_stream), akZip);
  EXPECT_EQ(CheckSelfExtractingFile(pe_stream), akSelfExtractingZip);

  options.stub = testing::MakeElfStub(0x300);
  ZipImage elf = BuildZip(TwoEntries(), options);
  TMemoryStream elf_stream(elf.bytes);
  EXPECT_EQ(CheckSelfExtractingFile(elf_stream), akSelfExtractingZip);
}

TEST(ZipKindChecks, ProgramWithoutAZipIsUnknown) {
  TMemoryStream stream(testing::MakePeStubWithCertificate(0x400, 0x80));
  EXPECT_EQ(CheckSelfExtractingFile(stream), akUnknown);
  // Only "MZ" and ELF count as programs.
  ZipWriterOptions options;
  options.stub = Bytes("#!/bin/sh\nexit 0\n");
  ZipImage script = BuildZip(TwoEntries(), options);
  TMemoryStream script_stream(script.bytes);
  EXPECT_EQ(CheckSelfExtractingFile(script_stream), akUnknown);
}

}  // namespace
}  // namespace velmora
