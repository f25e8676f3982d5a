// Extraction from a spanned set opened by its last image: the driver moves
// the stream to the disk each item starts on, in whatever order the items
// are asked for.
#include <gtest/gtest.h>

#include "archive/zip/zip_archive.h"
#include "archive/zip/zip_extract.h"
#include "tests/archive/zip/zip_test_prefix.h"
#include "tests/support/zip_writer.h"

namespace velmora {
namespace {

using testing::Bytes;
using testing::ZipWriterEntry;

std::vector<ZipWriterEntry> Entries() {
  std::vector<ZipWriterEntry> entries;
  for (int i = 0; i < 12; ++i) {
    entries.push_back({.name = "f" + std::to_string(i) + ".txt",
                       .data = Bytes(std::string(150 + 37 * i, static_cast<char>('a' + i)))});
  }
  return entries;
}

class ExtractSpanned : public ZipScratchTest {
 protected:
  std::string WriteSet() {
    images_ = testing::BuildSpannedZip(Entries(), {.max_image_size = 700});
    std::string last;
    for (size_t k = 0; k < images_.size(); ++k) {
      char ext[32];
      std::snprintf(ext, sizeof ext, ".z%02zu", k + 1);
      last = Put(k + 1 == images_.size() ? std::string("set.zip") : "set" + std::string(ext),
                 images_[k]);
    }
    return last;
  }
  std::vector<std::vector<uint8_t>> images_;
};

TEST_F(ExtractSpanned, EveryItemComesOutFromItsOwnDiskInAnyOrder) {
  TAbZipArchive archive(WriteSet(), fmOpenRead | fmShareDenyNone);
  archive.Load();
  ASSERT_GE(images_.size(), 3u);
  ASSERT_EQ(archive.ItemCount(), 12);
  const auto entries = Entries();
  // Items that lie whole within their image (the next one starts on the
  // same disk), taken out of order so that every one needs a switch.
  std::vector<int> order;
  for (int i : {10, 0, 5, 6, 1, 9, 2, 8}) {
    if (archive.ZipItems(i + 1)->StartDisk() == archive.ZipItems(i)->StartDisk()) {
      order.push_back(i);
    }
  }
  ASSERT_GE(order.size(), 3u);
  for (int i : order) {
    TMemoryStream out;
    try {
      UnzipItemToStream(archive, *archive.ZipItems(i), &out);
    } catch (const std::exception& e) {
      ADD_FAILURE() << "item " << i << " on disk " << archive.ZipItems(i)->StartDisk() << ": "
                    << e.what();
    }
    EXPECT_TRUE(out.Data() == entries[i].data) << i;
    EXPECT_EQ(archive.ActiveDisk, archive.ZipItems(i)->StartDisk()) << i;
  }
  EXPECT_NO_THROW(TestZipItem(archive, *archive.ZipItems(order.front())));
}

}  // namespace
}  // namespace velmora
