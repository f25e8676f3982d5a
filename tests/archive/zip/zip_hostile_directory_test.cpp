// Directories that cannot be: named errors when the archive loads, never an
// empty archive and never an item extracted twice from the same bytes.
#include <gtest/gtest.h>

#include "archive/base/exceptions.h"
#include "archive/zip/zip_archive.h"
#include "tests/support/zip_writer.h"

namespace velmora {
namespace {

// The archive writer's names: BuildZip, Bytes, ZipImage, ZipWriterEntry, ...
using namespace velmora::testing;

// The message of what loading raises, as long as it is an archive error.
template <typename Error>
std::string LoadError(const std::vector<uint8_t>& bytes) {
  TMemoryStream stream(bytes);
  TAbZipArchive archive(&stream, "t.zip");
  try {
    archive.Load();
  } catch (const Error& e) {
    EXPECT_EQ(e.ErrorCode, AbErrZipInvalid);
    EXPECT_EQ(archive.ItemCount(), 0) << "items listed from a refused directory";
    return e.Message();
  }
  ADD_FAILURE() << "loaded";
  return {};
}

TEST(ZipHostileDirectory, EndRecordAloneClaimingEntriesIsNoEmptyArchive) {
  ZipWriterOptions claims;
  claims.total_entries = 65535;
  claims.entries_on_disk = 65535;
  EXPECT_EQ(LoadError<EAbZipBadDirectory>(BuildZip({}, claims).bytes),
            "The directory claims 65535 entries, but its 0 bytes hold at most 0");
  // Pointing at itself: its own 22 bytes as the directory. Such a record is
  // not even taken for an end record (no directory can end past it).
  ZipWriterOptions itself;
  itself.total_entries = 1;
  itself.entries_on_disk = 1;
  itself.directory_size = 46;
  EXPECT_EQ(LoadError<EAbZipInvalid>(BuildZip({}, itself).bytes), "Invalid file - not a PKZip file");
  // A true empty archive stays one.
  TMemoryStream empty(BuildZip({}).bytes);
  TAbZipArchive archive(&empty, "t.zip");
  archive.Load();
  EXPECT_EQ(archive.ItemCount(), 0);
}

TEST(ZipHostileDirectory, DirectoryOverlappingOrInsideItsEndRecordIsRefused) {
  std::vector<ZipWriterEntry> one = {{.name = "a", .data = Bytes("abc")}};
  ZipImage plain = BuildZip(one);
  ZipWriterOptions longer;
  longer.directory_size = plain.end_record_position - plain.directory_position + 10;
  // Records whose directory would run into or past them are not taken for
  // end records at all: the archive is no ZIP file.
  EXPECT_EQ(LoadError<EAbZipInvalid>(BuildZip(one, longer).bytes), "Invalid file - not a PKZip file");
  ZipWriterOptions inside;
  inside.directory_offset = plain.end_record_position + 4;
  EXPECT_EQ(LoadError<EAbZipInvalid>(BuildZip(one, inside).bytes), "Invalid file - not a PKZip file");
}

TEST(ZipHostileDirectory, EntriesSharingLocalDataAreRefusedBeforeAnyItem) {
  // Central entries all pointing at one local header: the overlapping-entry
  // bomb. Made by copying the first central header.
  ZipImage zip = BuildZip({{.name = "a", .data = Bytes(std::string(1000, 'a'))},
                           {.name = "a", .data = Bytes("x")}});
  std::vector<uint8_t>& b = zip.bytes;
  const size_t central_size = zip.central_header_positions[1] - zip.central_header_positions[0];
  std::copy_n(b.begin() + zip.central_header_positions[0], central_size,
              b.begin() + zip.central_header_positions[1]);
  EXPECT_NE(LoadError<EAbZipOverlap>(b).find("possible zip bomb"), std::string::npos);
}

TEST(ZipHostileDirectory, EmptyItemListedTwiceIsNoBombButAFullOneIs) {
  // Two bytes of Deflate (an empty stream) cannot multiply anything.
  for (const auto& [data, refused] : {std::pair{std::string(), false}, {std::string("abc"), true}}) {
    ZipImage zip = BuildZip({{.name = "a", .data = Bytes(data), .method = 8},
                             {.name = "a", .data = Bytes(data), .method = 8}});
    std::vector<uint8_t>& b = zip.bytes;
    std::copy_n(b.begin() + zip.central_header_positions[0],
                zip.central_header_positions[1] - zip.central_header_positions[0],
                b.begin() + zip.central_header_positions[1]);
    TMemoryStream stream(b);
    TAbZipArchive archive(&stream, "t.zip");
    if (refused) {
      EXPECT_THROW(archive.Load(), EAbZipOverlap);
    } else {
      archive.Load();
      EXPECT_EQ(archive.ItemCount(), 2);
    }
  }
}

TEST(ZipHostileDirectory, ItemDataRunningIntoTheDirectoryIsRefused) {
  ZipImage zip = BuildZip({{.name = "a", .data = Bytes("abc")}});
  // Compressed size 3 -> 40: the data would run over the central header.
  zip.bytes[zip.central_header_positions[0] + 20] = 40;
  EXPECT_NE(LoadError<EAbZipOverlap>(zip.bytes).find("overlap"), std::string::npos);
}

TEST(ZipHostileDirectory, ItemsMadeWithDescriptorsAndGapsStillLoad) {
  // Data descriptors and junk between items leave room, never overlap.
  ZipImage zip = BuildZip({{.name = "a", .data = Bytes("abc"), .flags = 8},
                           {.name = "b", .data = Bytes("def"), .local_extra = "pad pad pad"}});
  TMemoryStream stream(zip.bytes);
  TAbZipArchive archive(&stream, "t.zip");
  archive.Load();
  EXPECT_EQ(archive.ItemCount(), 2);
}

}  // namespace
}  // namespace velmora
