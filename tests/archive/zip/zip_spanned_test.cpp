// Spanned sets: images named as Info-ZIP and PKZIP name them (backup.z01,
// backup.z02, ..., backup.zip), and the disk prompts.
#include <gtest/gtest.h>

#include "archive/zip/zip_archive.h"
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

class ZipSpanned : public ZipScratchTest {
 protected:
  // Writes the set; image k is "<stem>.z0k+1", the last "<stem><last_ext>".
  std::string WriteSet(const std::string& stem, const std::string& last_ext, int entries) {
    images = testing::BuildSpannedZip(ManySmallEntries(entries), {.max_image_size = 1024});
    std::string last;
    for (size_t k = 0; k < images.size(); ++k) {
      char ext[32];
      std::snprintf(ext, sizeof ext, ".z%02zu", k + 1);
      std::string name = k + 1 == images.size() ? stem + last_ext : stem + ext;
      last = Put(name, images[k]);
      names.push_back(last);
    }
    return last;
  }
  std::vector<std::vector<uint8_t>> images;
  std::vector<std::string> names;
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

}  // namespace
}  // namespace velmora
