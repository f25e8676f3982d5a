// Byte-split parts (NAME.001, .002, ... as 7-Zip's -v and split(1) cut a
// file) open as the one archive they were cut from, records cut anywhere.
#include <gtest/gtest.h>

#include "archive/base/split_stream.h"
#include "archive/zip/zip_archive.h"
#include "archive/zip/zip_extract.h"
#include "tests/archive/zip/zip_test_prefix.h"

namespace velmora {
namespace {

using testing::Bytes;

class ZipByteSplit : public ZipScratchTest {
 protected:
  // Cuts bytes into parts of part_size bytes; returns the first's name.
  std::string Split(const std::vector<uint8_t>& bytes, size_t part_size) {
    std::string first;
    for (size_t at = 0, n = 1; at < bytes.size(); at += part_size, ++n) {
      char suffix[8];
      std::snprintf(suffix, sizeof suffix, ".%03zu", n);
      const size_t end = std::min(bytes.size(), at + part_size);
      std::string name = Put(std::string("set.zip") + suffix,
                             std::vector<uint8_t>(bytes.begin() + at, bytes.begin() + end));
      if (n == 1) first = name;
    }
    return first;
  }
};

TEST_F(ZipByteSplit, PartsCutInsideRecordsOpenAsOneArchive) {
  const std::vector<uint8_t> text = Bytes(std::string(700, 'x') + "end");
  testing::ZipImage zip = testing::BuildZip({{.name = "a.txt", .data = Bytes("alpha")},
                                             {.name = "b.txt", .data = text, .method = 8}});
  // Parts of 37 bytes cut every header, the directory and the end record.
  const std::string first = Split(zip.bytes, 37);
  TAbZipArchive archive(first, fmOpenRead | fmShareDenyNone);
  archive.Load();
  ASSERT_EQ(archive.ItemCount(), 2);
  EXPECT_FALSE(archive.Spanned);
  TMemoryStream out;
  UnzipItemToStream(archive, *archive.ZipItems(1), &out);
  EXPECT_EQ(out.Data(), text);
}

TEST_F(ZipByteSplit, StreamReadsAcrossPartsAndSeeksAnywhere) {
  std::vector<uint8_t> bytes(100);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
  const std::string first = Split(bytes, 30);
  ASSERT_TRUE(IsByteSplitFirstPart(first));
  TAbByteSplitStream stream(first, fmOpenRead);
  EXPECT_EQ(stream.PartCount(), 4);
  EXPECT_EQ(stream.Size(), 100);
  uint8_t got[50] = {};
  EXPECT_EQ(stream.Seek(25, soFromBeginning), 25);
  ASSERT_EQ(stream.Read(got, 50), 50);  // 25..74 over three parts
  EXPECT_EQ(got[0], 25);
  EXPECT_EQ(got[49], 74);
  EXPECT_EQ(stream.Seek(-10, soFromEnd), 90);
  EXPECT_EQ(stream.Read(got, 50), 10);
  EXPECT_EQ(got[9], 99);
  EXPECT_EQ(stream.Read(got, 50), 0);
  // A lone NAME.001 is no set: it opens as the file it is.
  const std::string lone = Put("lone.zip.001", bytes);
  EXPECT_FALSE(IsByteSplitFirstPart(lone));
}

}  // namespace
}  // namespace velmora
