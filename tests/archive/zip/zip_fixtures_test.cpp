// Archives made by other programs (../shared/fixtures, described by its
// ARCHIVES.tsv): each one either lists its entries or fails with an archive
// error, never anything worse. Spanned sets are opened by their last part
// and read through the generated image names.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "archive/zip/zip_archive.h"
#include "tests/archive/zip/zip_test_prefix.h"

namespace velmora {
namespace {

struct FixtureArchive {
  std::string path;
  int parts = 1;
  int entries = -1;      // as declared by the end record; -1: none found
  int offset_delta = 0;  // a stub whose offsets were not adjusted
};

std::string FixtureFolder() { return std::string(VELMORA_SOURCE_DIR) + "/../shared/fixtures"; }

std::vector<FixtureArchive> ReadArchiveTable() {
  std::vector<FixtureArchive> rows;
  std::ifstream in(FixtureFolder() + "/ARCHIVES.tsv");
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::vector<std::string> cells;
    std::stringstream split(line);
    for (std::string cell; std::getline(split, cell, '\t');) cells.push_back(cell);
    if (cells.size() < 6) continue;
    FixtureArchive row;
    row.path = cells[0];
    row.parts = std::stoi(cells[1]);
    row.entries = cells[3] == "-" ? -1 : std::stoi(cells[3]);
    row.offset_delta = cells[5] == "-" ? 0 : std::stoi(cells[5]);
    rows.push_back(row);
  }
  return rows;
}

class ZipFixtures : public ZipScratchTest {};

TEST_F(ZipFixtures, EveryArchiveListsItsEntriesOrFailsWithAnArchiveError) {
  if (!std::filesystem::is_directory(FixtureFolder())) {
    GTEST_SKIP() << "no sample archives at " << FixtureFolder();
  }
  std::vector<FixtureArchive> rows = ReadArchiveTable();
  ASSERT_FALSE(rows.empty());
  int listed = 0, refused = 0;
  for (const FixtureArchive& row : rows) {
    SCOPED_TRACE(row.path);
    std::string file = WindowsPath(std::filesystem::canonical(FixtureFolder() + "/" + row.path));
    try {
      TAbZipArchive archive(file, fmOpenRead | fmShareDenyNone);
      archive.Load();
      // A stub whose offsets were not adjusted is found and counted in. Go's
      // comment-truncated.zip holds a second archive whose end record comes
      // first and fits: read with its shift, it lists that archive's item.
      // The bla-stored-dd archives have their items where their offsets say
      // and only the directory's offset wrong: nothing stands in front.
      if (row.path != "go-archive-zip/comment-truncated.zip" &&
          row.path.find("/bla-stored-dd") == std::string::npos) {
        EXPECT_EQ(archive.ExtraBytes, row.offset_delta);
      }
      EXPECT_EQ(archive.ItemCount(), row.entries);
      EXPECT_EQ(archive.Spanned, row.parts > 1);
      for (int i = 0; i < archive.ItemCount(); ++i) {
        TAbZipItem& item = *archive.ZipItems(i);
        std::string name = item.GetStoredName();
        EXPECT_GE(item.GetUnpackedSize(), -1);
        ItemMatchesMaskList(item, "*.txt; *.*");
      }
      ++listed;
    } catch (const EAbException& e) {
      // Refusals: no end record, a damaged directory.
      ++refused;
      EXPECT_TRUE(row.entries == -1 || e.ErrorCode == AbErrZipInvalid)
          << e.what();
    } catch (const std::exception& e) {
      ADD_FAILURE() << "not an archive error: " << e.what();
    }
  }
  EXPECT_GT(listed, refused);
  std::printf("[          ] %d listed, %d refused\n", listed, refused);
}

}  // namespace
}  // namespace velmora
