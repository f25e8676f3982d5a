// Spanned sets: images named as Info-ZIP and PKZIP name them (backup.z01,
// backup.z02, ..., backup.zip), the disk prompts, and extraction from them:
// the driver moves the stream to the disk each item starts on, in whatever
// order the items are asked for, and an item that runs over the end of its
// image is read on from the next image, whichever disk the stream was
// opened on.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "archive/zip/zip_archive.h"
#include "archive/zip/zip_extract.h"
#include "platform/message_box.h"
#include "tests/archive/zip/zip_test_prefix.h"
#include "tests/support/zip_writer.h"

namespace velmora {
namespace {

using testing::Bytes;
using testing::ZipWriterEntry;

constexpr uint16_t kReadShared = fmOpenRead | fmShareDenyNone;

std::vector<ZipWriterEntry> ManySmallEntries(int count) {
  std::vector<ZipWriterEntry> entries;
  for (int i = 0; i < count; ++i) {
    std::string name = "file" + std::to_string(100 + i) + ".txt";
    entries.push_back(
        {.name = name, .data = Bytes(std::string(40, static_cast<char>('a' + i % 26)))});
  }
  return entries;
}

// Twelve items of growing size, several to an image.
std::vector<ZipWriterEntry> GrowingEntries() {
  std::vector<ZipWriterEntry> entries;
  for (int i = 0; i < 12; ++i) {
    entries.push_back({.name = "f" + std::to_string(i) + ".txt",
                       .data = Bytes(std::string(150 + 37 * i, static_cast<char>('a' + i)))});
  }
  return entries;
}

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

// Items that cross image ends when the images are small.
std::vector<ZipWriterEntry> CrossingEntries() {
  return {
      {.name = "a.txt", .data = Bytes(std::string(240, 'a'))},
      {.name = "b.bin", .data = Noise(520, 1)},
      {.name = "c.bin", .data = Noise(610, 2), .method = 8},
      {.name = "d.bin", .data = Noise(450, 3)},
      {.name = "e.bin", .data = Noise(380, 4), .method = 8},
      {.name = "f.txt", .data = Bytes(std::string(700, 'f')), .method = 8},
  };
}

// Answers every message box with one button and records what it showed.
class MessageBoxRecorder {
 public:
  explicit MessageBoxRecorder(int answer) {
    previous_ = SetMessageBoxHandler(
        [this, answer](const std::string& text, const std::string& caption, UINT type) {
          shown.push_back(caption + ": " + text);
          types.push_back(type);
          return answer;
        });
  }
  ~MessageBoxRecorder() { SetMessageBoxHandler(previous_); }
  std::vector<std::string> shown;
  std::vector<UINT> types;

 private:
  MessageBoxHandler previous_;
};

// Writes a set as the tools name its images: image k is "<stem>.z0k+1",
// the last "<stem><last_ext>". Returns the last image's path.
class SpannedSetTest : public ZipScratchTest {
 protected:
  std::string WriteImages(const std::vector<ZipWriterEntry>& entries,
                          const testing::ZipSpanLayout& layout, const std::string& stem,
                          const std::string& last_ext = ".zip") {
    images = testing::BuildSpannedZip(entries, layout);
    std::string last;
    for (size_t k = 0; k < images.size(); ++k) {
      char ext[32];
      std::snprintf(ext, sizeof ext, ".z%02zu", k + 1);
      last = Put(k + 1 == images.size() ? stem + last_ext : stem + ext, images[k]);
      names.push_back(last);
    }
    return last;
  }
  std::vector<std::vector<uint8_t>> images;
  std::vector<std::string> names;
};

// ---- images, names and disk prompts ----

class ZipSpanned : public SpannedSetTest {
 protected:
  std::string WriteSet(const std::string& stem, const std::string& last_ext, int entries) {
    return WriteImages(ManySmallEntries(entries), {.max_image_size = 1024}, stem, last_ext);
  }
};

void ExpectLocalHeaderOf(TAbZipArchive& archive, int index) {
  TAbZipItem& item = *archive.ZipItems(index);
  bool abort = false;
  archive.SwitchImage(item.StartDisk(), abort);
  archive.Stream()->Seek(item.LocalHeaderOffset(), soFromBeginning);
  TAbZipLocalFileHeader local;
  local.ReadFromStream(*archive.Stream());
  EXPECT_EQ(local.FileName, item.GetStoredName());
}

TEST_F(ZipSpanned, DirectoryIsReadAcrossImagesFromTheLastOne) {
  std::string last = WriteSet("backup", ".zip", 30);
  ASSERT_GE(images.size(), 4u);
  TAbZipArchive archive(last, kReadShared);
  archive.Load();
  ASSERT_EQ(archive.ItemCount(), 30);
  EXPECT_TRUE(archive.Spanned);
  EXPECT_TRUE(archive.GenerateImageNames);
  EXPECT_EQ(archive.ActiveDisk, images.size() - 1);
  EXPECT_EQ(archive.ZipItems(29)->GetStoredName(), "file129.txt");
  EXPECT_EQ(archive.ZipItems(0)->StartDisk(), 0);
  EXPECT_GT(archive.ZipItems(29)->StartDisk(), 0);
  ExpectLocalHeaderOf(archive, 0);
  ExpectLocalHeaderOf(archive, 29);
  ExpectLocalHeaderOf(archive, 15);
}

TEST_F(ZipSpanned, OpeningTheFirstImageFindsTheLastByGeneratedNames) {
  WriteSet("set", ".z99", 30);
  // Rename the last image to its generated name so the whole set is .zNN.
  std::string last_generated =
      "set.z" + std::string(images.size() < 10 ? "0" : "") + std::to_string(images.size());
  Put(last_generated, images.back());
  TAbZipArchive archive(names.front(), kReadShared);
  archive.Load();
  EXPECT_EQ(archive.ItemCount(), 30);
  EXPECT_TRUE(archive.Spanned);
  ExpectLocalHeaderOf(archive, 3);
}

TEST_F(ZipSpanned, GeneratedNamesReplaceTheExtension) {
  std::string last = WriteSet("backup", ".zip", 3);
  TAbZipArchive archive(last, kReadShared);
  std::string stem = last.substr(0, last.size() - 4);
  EXPECT_EQ(archive.GeneratedImageName(0), stem + ".z01");
  EXPECT_EQ(archive.GeneratedImageName(98), stem + ".z99");
  EXPECT_EQ(archive.GeneratedImageName(99), stem + ".z00");
}

TEST_F(ZipSpanned, SpanImageRequestFallsBackToTheZipExtension) {
  std::string last = WriteSet("backup", ".zip", 30);
  TAbZipArchive archive(last, kReadShared);
  archive.Load();
  std::string stem = last.substr(0, last.size() - 4);
  std::string name;
  bool abort = false;
  archive.RequestSpanImage(nullptr, 1, name, abort);
  EXPECT_EQ(name, stem + ".z02");
  archive.RequestSpanImage(nullptr, static_cast<int32_t>(images.size()) - 1, name, abort);
  EXPECT_EQ(name, stem + ".ZIP");
  EXPECT_FALSE(abort);
}

TEST_F(ZipSpanned, MissingImageRaisesFileNotFoundAndKeepsAValidStream) {
  std::string last = WriteSet("backup", ".zip", 30);
  TAbZipArchive archive(last, kReadShared);
  archive.Load();
  std::filesystem::remove(Host("backup.z01"));
  bool abort = false;
  EXPECT_THROW(archive.SwitchImage(0, abort), EAbFileNotFound);
  ASSERT_NE(archive.Stream(), nullptr);
  EXPECT_GT(archive.Stream()->Size(), 0);
}

TEST_F(ZipSpanned, ImageHandlerNamesTheImagesAndCanAbort) {
  std::string last = WriteSet("backup", ".zip", 30);
  TAbZipArchive archive(last, kReadShared);
  std::vector<int32_t> asked;
  archive.OnRequestImage = [&](void*, int32_t number, std::string& name, bool& abort) {
    asked.push_back(number);
    if (number >= 0 && number + 1 < static_cast<int32_t>(names.size())) name = names[number];
    abort = number == 0;
  };
  archive.Load();
  EXPECT_EQ(archive.ItemCount(), 30);
  EXPECT_FALSE(asked.empty());
  bool abort = false;
  EXPECT_THROW(archive.SwitchImage(0, abort), EAbUserAbort);
}

TEST_F(ZipSpanned, DiskPromptsUseMessageBoxesWhenNoHandlerIsSet) {
  std::string last = WriteSet("backup", ".zip", 3);
  TAbZipArchive archive(last, kReadShared);
  MessageBoxRecorder cancel(IDCANCEL);
  bool abort = false;
  archive.RequestNthDisk(3, abort);
  EXPECT_TRUE(abort);
  archive.RequestLastDisk(abort);
  EXPECT_TRUE(abort);
  std::string name;
  archive.RequestSpanImage(nullptr, 4, name, abort);
  EXPECT_TRUE(abort);
  EXPECT_EQ(cancel.shown, (std::vector<std::string>{
                              "Insert floppy: Insert disk number 3 of the spanned disk set",
                              "Insert floppy: Insert the last disk in the spanned disk set",
                              "Image file name: Insert span number 4 of the spanned file set"}));
  EXPECT_EQ(cancel.types[0] & MB_TYPEMASK, MB_OKCANCEL);
}

TEST_F(ZipSpanned, DiskHandlersAnswerInsteadOfMessageBoxes) {
  std::string last = WriteSet("backup", ".zip", 3);
  TAbZipArchive archive(last, kReadShared);
  MessageBoxRecorder ok(IDOK);
  int nth = -1;
  archive.OnRequestNthDisk = [&nth](void*, uint8_t disk, bool& abort) {
    nth = disk;
    abort = true;
  };
  archive.OnRequestLastDisk = [](void*, bool&) {};
  bool abort = false;
  archive.RequestNthDisk(2, abort);
  EXPECT_TRUE(abort);
  EXPECT_EQ(nth, 2);
  archive.RequestLastDisk(abort);
  EXPECT_FALSE(abort);
  EXPECT_TRUE(ok.shown.empty());
}

// ---- extraction: items in any order ----

class ExtractSpanned : public SpannedSetTest {
 protected:
  std::string WriteSet() { return WriteImages(GrowingEntries(), {.max_image_size = 700}, "set"); }
};

TEST_F(ExtractSpanned, EveryItemComesOutFromItsOwnDiskInAnyOrder) {
  TAbZipArchive archive(WriteSet(), fmOpenRead | fmShareDenyNone);
  archive.Load();
  ASSERT_GE(images.size(), 3u);
  ASSERT_EQ(archive.ItemCount(), 12);
  const auto entries = GrowingEntries();
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

// ---- extraction: items that cross image ends ----

class SpannedItemAcrossImages : public SpannedSetTest {
 protected:
  std::string WriteSet() {
    return WriteImages(CrossingEntries(),
                       {.max_image_size = 300, .local_headers_may_straddle = true}, "backup");
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
    return DataEnd(item) > images[item.StartDisk()].size();
  }

  void ExpectExtracts(TAbZipArchive& archive, int index) {
    const auto entries = CrossingEntries();
    TAbZipItem& item = *archive.ZipItems(index);
    TMemoryStream out;
    try {
      UnzipItemToStream(archive, item, &out);
    } catch (const std::exception& e) {
      ADD_FAILURE() << "item " << index << " on disk " << item.StartDisk() << ": " << e.what();
    }
    EXPECT_TRUE(out.Data() == entries[index].data) << "item " << index;
  }
};

TEST_F(SpannedItemAcrossImages, ItemsRunningIntoLaterImagesComeOutWhole) {
  TAbZipArchive archive(WriteSet(), fmOpenRead | fmShareDenyNone);
  archive.Load();
  ASSERT_GE(images.size(), 3u);
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
    if (HeaderEnd(item) > images[item.StartDisk()].size()) header_straddles = true;
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
