// Extraction from a spanned set whose items run over the end of their
// image: the span stream moves on to the next image by itself, and must ask
// for the image after the one it stands on, whichever disk it was opened on.
#include <gtest/gtest.h>

#include <cstdio>

#include "archive/zip/zip_archive.h"
#include "archive/zip/zip_extract.h"
#include "tests/archive/zip/zip_test_prefix.h"
#include "tests/support/zip_writer.h"

namespace velmora {
namespace {

using testing::Bytes;
using testing::ZipWriterEntry;

// Bytes that deflate cannot shrink much, so a deflated item stays long
// enough to cross images.
std::vector<uint8_t> Noise(size_t size, uint32_t seed) {
  std::vector<uint8_t> out(size);
  for (auto& b : out) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>(seed >> 16);
  }
  return out;
}

std::vector<ZipWriterEntry> Entries() {
  return {
      {.name = "a.txt", .data = Bytes(std::string(240, 'a'))},
      {.name = "b.bin", .data = Noise(520, 1)},
      {.name = "c.bin", .data = Noise(610, 2), .method = 8},
      {.name = "d.bin", .data = Noise(450, 3)},
      {.name = "e.bin", .data = Noise(380, 4), .method = 8},
      {.name = "f.txt", .data = Bytes(std::string(700, 'f')), .method = 8},
  };
}

class SpannedItemAcrossImages : public ZipScratchTest {
 protected:
  std::string WriteSet() {
    images_ = testing::BuildSpannedZip(
        Entries(), {.max_image_size = 300, .local_headers_may_straddle = true});
    std::string last;
    for (size_t k = 0; k < images_.size(); ++k) {
      char ext[32];
      std::snprintf(ext, sizeof ext, ".z%02zu", k + 1);
      last = Put(k + 1 == images_.size() ? std::string("backup.zip") : "backup" + std::string(ext),
                 images_[k]);
    }
    return last;
  }

  // Where the item's local header (fixed part and name) and its data end,
  // counted from the start of its own image.
  static uint64_t HeaderEnd(const TAbZipItem& item) {
    return item.LocalHeaderOffset() + 30 + item.GetStoredName().size();
  }
  static uint64_t DataEnd(const TAbZipItem& item) {
    return HeaderEnd(item) + static_cast<uint64_t>(item.GetPackedSize());
  }
  bool Crosses(const TAbZipItem& item) const {
    return DataEnd(item) > images_[item.StartDisk()].size();
  }

  void ExpectExtracts(TAbZipArchive& archive, int index) {
    const auto entries = Entries();
    TAbZipItem& item = *archive.ZipItems(index);
    TMemoryStream out;
    try {
      UnzipItemToStream(archive, item, &out);
    } catch (const std::exception& e) {
      ADD_FAILURE() << "item " << index << " on disk " << item.StartDisk() << ": " << e.what();
    }
    EXPECT_TRUE(out.Data() == entries[index].data) << "item " << index;
  }

  std::vector<std::vector<uint8_t>> images_;
};

TEST_F(SpannedItemAcrossImages, ItemsRunningIntoLaterImagesComeOutWhole) {
  TAbZipArchive archive(WriteSet(), fmOpenRead | fmShareDenyNone);
  archive.Load();
  ASSERT_GE(images_.size(), 3u);
  ASSERT_EQ(archive.ItemCount(), 6);

  // The set is only worth something if it holds the cases in question: a
  // stored and a deflated item that start beyond the first image and run
  // into the next, and a local header cut in two by an image end.
  bool stored_crosses = false, deflated_crosses = false, header_straddles = false;
  for (int i = 0; i < archive.ItemCount(); ++i) {
    const TAbZipItem& item = *archive.ZipItems(i);
    if (item.StartDisk() > 0 && Crosses(item)) {
      (item.Method() == 0 ? stored_crosses : deflated_crosses) = true;
    }
    if (HeaderEnd(item) > images_[item.StartDisk()].size()) header_straddles = true;
  }
  ASSERT_TRUE(stored_crosses);
  ASSERT_TRUE(deflated_crosses);
  ASSERT_TRUE(header_straddles);

  for (int i = 0; i < archive.ItemCount(); ++i) ExpectExtracts(archive, i);
  // And back to the first after the stream has wandered to later images.
  ExpectExtracts(archive, 0);
  ExpectExtracts(archive, 1);
}

TEST_F(SpannedItemAcrossImages, EachCrossingItemAloneAfterAnExplicitSwitch) {
  TAbZipArchive archive(WriteSet(), fmOpenRead | fmShareDenyNone);
  archive.Load();
  // Every crossing item taken from a fresh archive, so each starts from a
  // stream that SwitchImage opened on the item's own disk.
  for (int i = archive.ItemCount() - 1; i >= 0; --i) {
    if (!Crosses(*archive.ZipItems(i))) continue;
    TAbZipArchive fresh(archive.ArchiveFileName, fmOpenRead | fmShareDenyNone);
    fresh.Load();
    ExpectExtracts(fresh, i);
  }
}

}  // namespace
}  // namespace velmora
