// Info-ZIP's extra fields as the item model reads them: the Unicode path,
// the extended timestamp and the Unix owner, each built here byte by byte.
#include <gtest/gtest.h>

#include "archive/zip/zip_archive.h"
#include "tests/support/zip_writer.h"

namespace velmora {
namespace {

using testing::BuildZip;
using testing::Bytes;
using testing::ZipWriterEntry;

std::string Le(uint64_t v, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(i < 8 ? v >> (8 * i) : 0);
  return out;
}

// id, data size, data.
std::string Block(uint16_t id, const std::string& data) { return Le(id, 2) + Le(data.size(), 2) + data; }

// "up": version 1, CRC-32 of the stored name, the UTF-8 name.
std::string UnicodePath(const std::string& for_name, const std::string& utf8) {
  return Block(0x7075, "\x01" + Le(testing::Crc32Of(Bytes(for_name)), 4) + utf8);
}

struct Listed {
  explicit Listed(const std::vector<ZipWriterEntry>& entries)
      : stream(BuildZip(entries).bytes), archive(&stream, "t.zip") {
    archive.Load();
  }
  const TAbZipItem& Item(int i) const { return *archive.ZipItems(i); }
  TMemoryStream stream;
  TAbZipArchive archive;
};

TEST(ZipExtraFields, UnicodePathNamesTheItemOnlyWhenItsCrcMatchesTheStoredName) {
  Listed z({{.name = "caf\x82.txt", .central_extra = UnicodePath("caf\x82.txt", "caf\xC3\xA9.txt")},
            {.name = "renamed.txt", .central_extra = UnicodePath("old.txt", "old.txt")},
            {.name = "bad.txt", .central_extra = Block(0x7075, "\x02" + Le(0, 4) + "v2.txt")}});
  EXPECT_EQ(z.Item(0).GetStoredName(), "caf\xC3\xA9.txt");
  EXPECT_EQ(z.Item(0).DiskName, "caf\xC3\xA9.txt");
  // A tool that renamed the item kept the old field: the stored name holds.
  EXPECT_EQ(z.Item(1).GetStoredName(), "renamed.txt");
  EXPECT_EQ(z.Item(2).GetStoredName(), "bad.txt");  // an unknown version
}

TEST(ZipExtraFields, ExtendedTimestampAndUnixOwnerAreRead) {
  const std::string ut = Block(0x5455, "\x03" + Le(1700000000, 4) + Le(1700000100, 4));
  const std::string ux = Block(0x7875, "\x01\x04" + Le(1000, 4) + "\x02" + Le(100, 2));
  const std::string old_ux = Block(0x5855, Le(1600000100, 4) + Le(1600000000, 4) + Le(501, 2) + Le(20, 2));
  // A negative time (before 1970) stays negative.
  const std::string early = Block(0x5455, "\x01" + Le(0xFFFFFF00u, 4));
  Listed z({{.name = "a", .central_extra = ut + ux},
            {.name = "b", .central_extra = old_ux},
            {.name = "c", .central_extra = old_ux + ut},
            {.name = "d", .central_extra = early},
            {.name = "e"}});
  const TAbUnixExtra& a = z.Item(0).UnixExtra();
  EXPECT_EQ(a.ModificationTime, 1700000000);
  EXPECT_EQ(a.AccessTime, 1700000100);
  EXPECT_EQ(a.Uid, 1000u);
  EXPECT_EQ(a.Gid, 100u);
  const TAbUnixExtra& b = z.Item(1).UnixExtra();
  EXPECT_EQ(b.ModificationTime, 1600000000);
  EXPECT_EQ(b.Uid, 501u);
  EXPECT_EQ(b.Gid, 20u);
  // The extended timestamp wins over the old field wherever it stands.
  EXPECT_EQ(z.Item(2).UnixExtra().ModificationTime, 1700000000);
  EXPECT_EQ(z.Item(3).UnixExtra().ModificationTime, -256);
  EXPECT_FALSE(z.Item(4).UnixExtra().ModificationTime.has_value());
  EXPECT_FALSE(z.Item(4).UnixExtra().Uid.has_value());
}

TEST(ZipExtraFields, PkwareUnixFieldGivesTimesAndOwnerOnlyWhereNothingElseDoes) {
  // Access time, modification time, uid, gid: the old Unix field's layout.
  const std::string pkware = Block(0x000d, Le(1500000100, 4) + Le(1500000000, 4) + Le(7, 2) + Le(8, 2));
  const std::string ut = Block(0x5455, "\x01" + Le(1700000000, 4));
  Listed z({{.name = "a", .central_extra = pkware}, {.name = "b", .central_extra = pkware + ut}});
  const TAbUnixExtra& a = z.Item(0).UnixExtra();
  EXPECT_EQ(a.ModificationTime, 1500000000);
  EXPECT_EQ(a.AccessTime, 1500000100);
  EXPECT_EQ(a.Uid, 7u);
  EXPECT_EQ(a.Gid, 8u);
  EXPECT_EQ(z.Item(1).UnixExtra().ModificationTime, 1700000000);
}

TEST(ZipExtraFields, TimeWithTopBitSetCountsOnlyBesideADosTimePast2038) {
  const std::string late = Block(0x5455, "\x01" + Le(0x90000000u, 4));  // 2046-07-23
  Listed z({{.name = "a", .central_extra = late},
            {.name = "b", .dos_date = static_cast<uint16_t>(((2046 - 1980) << 9) | (7 << 5) | 22),
             .central_extra = late},
            {.name = "c", .central_extra = Block(0x5455, "\x01" + Le(1700000000, 4))}});
  EXPECT_FALSE(z.Item(0).UnixModificationTime().has_value());
  EXPECT_EQ(z.Item(1).UnixModificationTime(), int64_t{0x90000000});
  EXPECT_EQ(z.Item(2).UnixModificationTime(), 1700000000);
}

TEST(ZipExtraFields, CutBlocksAreIgnoredNotReadPastTheirEnd) {
  // Sizes that run past the field, and values cut short inside a block.
  Listed z({{.name = "a", .central_extra = Le(0x5455, 2) + Le(50, 2) + "\x01\x00"},
            {.name = "b", .central_extra = Block(0x5455, "\x01\x00\x00")},
            {.name = "c", .central_extra = Block(0x7875, "\x01\x09" + Le(0, 9) + "\x01\x00")},
            {.name = "d", .central_extra = Block(0x0001, Le(5, 4))}});
  for (int i = 0; i < 4; ++i) {
    EXPECT_FALSE(z.Item(i).UnixExtra().ModificationTime.has_value()) << i;
    EXPECT_FALSE(z.Item(i).UnixExtra().Uid.has_value()) << i;
  }
  EXPECT_EQ(z.Item(3).GetUnpackedSize(), 0);  // no marker, so no ZIP64 value taken
}

}  // namespace
}  // namespace velmora
