// The end-record search takes only a record that can be one: bytes of a
// program that happen to hold the signature are not an archive, and above
// all not the last disk of a spanned set that sends the reader looking for
// other files.
#include <gtest/gtest.h>

#include "archive/zip/zip_directory.h"
#include "archive/zip/zip_records.h"
#include "tests/support/zip_writer.h"

namespace velmora {
namespace {

// The archive writer's names: BuildZip, Bytes, ZipImage, ZipWriterEntry, ...
using namespace velmora::testing;

// An end record with the given fields, little-endian, no comment.
std::vector<uint8_t> EndRecord(uint16_t disk, uint16_t start_disk, uint32_t directory_size,
                               uint32_t directory_offset) {
  std::vector<uint8_t> r;
  auto put = [&r](uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) r.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  put(kAbZipEndCentralDirectorySignature, 4);
  put(disk, 2);
  put(start_disk, 2);
  put(3, 2);  // entries on this disk
  put(3, 2);  // entries in all
  put(directory_size, 4);
  put(directory_offset, 4);
  put(0, 2);  // comment length
  return r;
}

// A program whose bytes hold a false record followed by more code.
std::vector<uint8_t> ProgramHolding(const std::vector<uint8_t>& record) {
  std::vector<uint8_t> bytes = testing::MakeElfStub(0x400);
  bytes.insert(bytes.begin() + 0x200, record.begin(), record.end());
  return bytes;
}

TEST(ZipEndRecordPlausibility, ProgramBytesThatLookLikeALastDiskOfAHugeSetAreNoArchive) {
  // The shape that once sent the installer looking for "<name>.11": disk
  // 54347 of a set whose directory starts on disk 110.
  TMemoryStream stream(ProgramHolding(EndRecord(54347, 110, 1263534080, 2169178119)));
  EXPECT_EQ(FindEndOfDirectory(stream), -1);
  EXPECT_EQ(CheckSelfExtractingFile(stream), akUnknown);
}

TEST(ZipEndRecordPlausibility, ADirectoryStartingOnALaterDiskIsNoRecord) {
  TMemoryStream stream(ProgramHolding(EndRecord(2, 5, 100, 0)));
  EXPECT_EQ(FindEndOfDirectory(stream), -1);
}

TEST(ZipEndRecordPlausibility, ADirectoryRunningIntoOrPastItsRecordIsNoRecord) {
  // At 0x200 of the program: a directory of 0x100 bytes from 0x180 would
  // overlap the record itself.
  TMemoryStream stream(ProgramHolding(EndRecord(0, 0, 0x100, 0x180)));
  EXPECT_EQ(FindEndOfDirectory(stream), -1);
  TMemoryStream fits(ProgramHolding(EndRecord(0, 0, 0x100, 0x100)));
  EXPECT_EQ(FindEndOfDirectory(fits), 0x200);
}

TEST(ZipEndRecordPlausibility, ARealRecordBelowAFalseOneIsStillFound) {
  // A false record in the trailing bytes, above the real one.
  ZipWriterOptions options;
  const std::vector<uint8_t> fake = EndRecord(300, 0, 10, 10);
  options.trailer = fake;
  ZipImage zip = BuildZip({{.name = "a.txt", .data = Bytes("alpha")}}, options);
  TMemoryStream stream(zip.bytes);
  EXPECT_EQ(FindEndOfDirectory(stream), zip.end_record_position);
}

TEST(ZipEndRecordPlausibility, Zip64MarkersAreLeftToTheZip64Records) {
  TMemoryStream stream(ProgramHolding(EndRecord(0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF)));
  EXPECT_EQ(FindEndOfDirectory(stream), 0x200);
}

}  // namespace
}  // namespace velmora
