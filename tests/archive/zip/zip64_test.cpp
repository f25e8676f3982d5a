// ZIP64: the 64-bit end record found through its locator, the 0x0001 extra
// field in both headers, more than 65,535 items, an item over 4 GiB; and
// archives put behind other bytes whose offsets were not adjusted.
#include <gtest/gtest.h>

#include "archive/base/exceptions.h"
#include "archive/zip/bit_bucket_stream.h"
#include "archive/zip/zip_archive.h"
#include "archive/zip/zip_extract.h"
#include "tests/support/zip64_writer.h"
#include "tests/support/zip_writer.h"

namespace velmora {
namespace {

using testing::BuildZip64;
using testing::Bytes;
using testing::Zip64Image;
using testing::Zip64Options;

struct Loaded {
  explicit Loaded(std::vector<uint8_t> bytes) : stream(std::move(bytes)), archive(&stream, "t.zip") {
    archive.Load();
  }
  std::vector<uint8_t> Extract(int i) {
    TMemoryStream out;
    UnzipItemToStream(archive, *archive.ZipItems(i), &out);
    return out.Data();
  }
  TMemoryStream stream;
  TAbZipArchive archive;
};

std::vector<testing::Zip64Entry> TwoItems() {
  return {testing::StoredEntry64("a.txt", Bytes("alpha")),
          testing::DeflatedEntry64("dir/b.txt", Bytes(std::string(3000, 'b') + "end"))};
}

TEST(Zip64, ValuesComeFromTheExtraFieldAndTheZip64EndRecord) {
  for (bool markers : {true, false}) {
    SCOPED_TRACE(markers ? "markers in the end record" : "real values in the end record");
    Zip64Options options;
    options.markers_in_end_record = markers;
    options.archive_comment = "a comment behind the end record";
    Zip64Image zip = BuildZip64(TwoItems(), options);
    Loaded z(zip.bytes);
    ASSERT_EQ(z.archive.ItemCount(), 2);
    const TAbZipItem& b = *z.archive.ZipItems(1);
    EXPECT_EQ(b.GetUnpackedSize(), 3003);
    EXPECT_EQ(b.LocalHeaderOffset(), zip.local_header_positions[1]);
    EXPECT_EQ(z.Extract(0), Bytes("alpha"));
    EXPECT_EQ(z.Extract(1), Bytes(std::string(3000, 'b') + "end"));
    // The local headers' ZIP64 sizes agree with the central ones.
    TestZipItem(z.archive, *z.archive.ZipItems(1));
    EXPECT_EQ(z.archive.ExtraBytes, 0);
  }
}

TEST(Zip64, AppendedWithoutAdjustedOffsetsIsReadWithTheShift) {
  Zip64Options options;
  options.stub = testing::MakeElfStub(4000);
  options.absolute_offsets = false;
  Zip64Image zip = BuildZip64(TwoItems(), options);
  Loaded z(zip.bytes);
  EXPECT_EQ(z.archive.ExtraBytes, 4000);
  EXPECT_EQ(z.archive.ZipItems(0)->LocalHeaderOffset(), zip.local_header_positions[0]);
  EXPECT_EQ(z.Extract(1), Bytes(std::string(3000, 'b') + "end"));
}

TEST(Zip64, LocatorPointingAtNoRecordIsANamedError) {
  Zip64Image zip = BuildZip64(TwoItems());
  zip.bytes[zip.zip64_end_position] = 'X';
  TMemoryStream stream(zip.bytes);
  TAbZipArchive archive(&stream, "t.zip");
  try {
    archive.Load();
    FAIL();
  } catch (const EAbZipBadDirectory& e) {
    EXPECT_NE(e.Message().find("no ZIP64 end record"), std::string::npos) << e.Message();
    EXPECT_EQ(e.ErrorCode, AbErrZipInvalid);
  }
}

// Found by the tail fuzzer (fuzz/corpus/zip_tail_fuzzer/size_past_2_63.zip):
// a ZIP64 size of 2^63 or more read as a negative size.
TEST(Zip64, SizeOrOffsetFromTwoToTheSixtyThreeIsDamage) {
  testing::Zip64Entry huge = testing::StoredEntry64("a", Bytes("abc"));
  huge.unpacked_size = uint64_t{1} << 63;
  TMemoryStream stream(BuildZip64({huge}).bytes);
  TAbZipArchive archive(&stream, "t.zip");
  EXPECT_THROW(archive.Load(), EAbZipInvalid);
}

TEST(Zip64, SeventyThousandItemsAreAllListed) {
  std::vector<testing::Zip64Entry> entries;
  for (int i = 0; i < 70000; ++i) {
    entries.push_back(testing::StoredEntry64("d/" + std::to_string(i), {}));
  }
  Loaded z(BuildZip64(entries).bytes);
  ASSERT_EQ(z.archive.ItemCount(), 70000);
  EXPECT_EQ(z.archive.ZipItems(69999)->GetStoredName(), "d/69999");
}

// No disk is used: the archive (a few megabytes of Deflate) is in memory and
// the item is tested into a bit bucket, so nothing needs a sparse file.
TEST(Zip64, ItemOverFourGibibytesTestsWithItsCrc) {
  constexpr uint64_t kSize = (uint64_t{1} << 32) + 12345;
  Loaded z(BuildZip64({testing::ZerosEntry64("zeros", kSize)}).bytes);
  TAbZipItem& item = *z.archive.ZipItems(0);
  EXPECT_EQ(static_cast<uint64_t>(item.GetUnpackedSize()), kSize);
  TAbBitBucketStream bucket;
  UnzipItemToStream(z.archive, item, &bucket);  // a bad CRC or size raises
}

}  // namespace
}  // namespace velmora
