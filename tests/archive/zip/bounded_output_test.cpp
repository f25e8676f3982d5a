// An item's output stops at the size its directory entry declares (and a
// stored item's at the bytes it holds), whatever the method and whether it
// is extracted or tested; the CRC of the whole would match, so only the
// size can tell.
#include <gtest/gtest.h>

#include "archive/zip/bit_bucket_stream.h"
#include "archive/zip/bounded_output_stream.h"
#include "archive/zip/zip_extract.h"
#include "tests/archive/zip/extract_fixture.h"
#include "tests/support/shrink_encoder.h"

namespace velmora {
namespace {

using extract_test::MemoryZip;
using extract_test::Patch32;
using extract_test::SetMethodAndSize;
using testing::BuildZip;
using testing::ZipImage;

// Item 0 of `zip` extracted into memory and tested: both fail with the
// size message, and the memory holds exactly `declared` bytes.
void ExpectStopsAt(const ZipImage& zip, size_t declared) {
  MemoryZip z(zip.bytes);
  TMemoryStream out;
  try {
    UnzipItemToStream(z.archive, z.Item(0), &out);
    ADD_FAILURE() << "extracted whole";
  } catch (const EAbItemTooLarge& e) {
    EXPECT_EQ(e.Message(), "Item is larger than its directory entry says");
  }
  EXPECT_EQ(out.Data().size(), declared);
  TAbBitBucketStream bucket;
  EXPECT_THROW(UnzipItemToStream(z.archive, z.Item(0), &bucket), EAbItemTooLarge);
}

TEST(BoundedOutput, DeflatedItemStopsAtItsDeclaredSize) {
  const std::vector<uint8_t> zeros(1 << 20, 0);
  ZipImage zip = BuildZip({{.name = "bomb", .data = zeros, .method = 8}});
  SetMethodAndSize(zip, 0, 8, 1000);
  ExpectStopsAt(zip, 1000);
}

TEST(BoundedOutput, ShrunkItemStopsAtItsDeclaredSize) {
  std::vector<uint8_t> text;
  for (int i = 0; i < 50000; ++i) text.push_back(static_cast<uint8_t>('a' + i % 23));
  ZipImage zip = BuildZip({{.name = "s", .data = testing::EncodeShrink(text),
                            .crc = testing::Crc32Of(text)}});
  SetMethodAndSize(zip, 0, 1, 1000);
  ExpectStopsAt(zip, 1000);
}

TEST(BoundedOutput, StoredItemStopsAtTheBytesItHolds) {
  // "a" holds 100 bytes but claims 5,000: the rest would be b's headers.
  ZipImage zip = BuildZip({{.name = "a", .data = std::vector<uint8_t>(100, 'a')},
                           {.name = "b", .data = std::vector<uint8_t>(9000, 'b')}});
  SetMethodAndSize(zip, 0, 0, 5000);
  ExpectStopsAt(zip, 100);
}

TEST(BoundedOutput, TestingAnItemWithinItsSizePassesNothingToTheBucket) {
  const std::vector<uint8_t> zeros(1 << 20, 0);
  MemoryZip z(BuildZip({{.name = "z", .data = zeros, .method = 8}}).bytes);
  TAbBitBucketStream bucket;
  UnzipItemToStream(z.archive, z.Item(0), &bucket);
  EXPECT_EQ(bucket.Size(), 0) << "a test counts its output";
}

TEST(BoundedOutput, ShortWriteOfTheTargetKeepsTheTargetsOwnError) {
  class Full : public TMemoryStream {
   public:
    int32_t Write(const void*, int32_t) override { return 0; }
   protected:
    [[noreturn]] void RaiseWriteError() override { throw EDiskFull(ENOSPC, "/t"); }
  } full;
  TAbBoundedOutputStream bounded(&full, 10);
  EXPECT_THROW(bounded.WriteBuffer("abc", 3), EDiskFull);
}

}  // namespace
}  // namespace velmora
