// Items shrunk, reduced and imploded by other programs (PKZIP among them)
// expand to their recorded size and CRC-32. Encoders written by the same
// hand as the decoders would share their mistakes; these do not.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "legacy_test_util.h"

namespace velmora {
namespace {

const std::filesystem::path kFixtures = VELMORA_SOURCE_DIR "/../shared/fixtures";

struct FixtureItem {
  std::string name;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t crc = 0;
  uint32_t packed_size = 0;
  uint32_t unpacked_size = 0;
  std::vector<uint8_t> packed;
};

uint32_t Le(const std::vector<uint8_t>& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | b.at(at + i);
  return v;
}

// Just enough of a ZIP reader for these archives: the end record, the
// central directory, and each local header's length to find the data.
std::vector<FixtureItem> ReadItems(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> zip((std::istreambuf_iterator<char>(in)), {});
  size_t end = zip.size() - 22;
  while (Le(zip, end, 4) != 0x06054b50) --end;  // at() throws when there is none
  const uint32_t count = Le(zip, end + 10, 2);
  size_t at = Le(zip, end + 16, 4);
  std::vector<FixtureItem> items;
  for (uint32_t i = 0; i < count; ++i) {
    EXPECT_EQ(Le(zip, at, 4), 0x02014b50u);
    FixtureItem item;
    item.flags = static_cast<uint16_t>(Le(zip, at + 8, 2));
    item.method = static_cast<uint16_t>(Le(zip, at + 10, 2));
    item.crc = Le(zip, at + 16, 4);
    item.packed_size = Le(zip, at + 20, 4);
    item.unpacked_size = Le(zip, at + 24, 4);
    const uint32_t name_length = Le(zip, at + 28, 2);
    item.name.assign(zip.begin() + at + 46, zip.begin() + at + 46 + name_length);
    const size_t local = Le(zip, at + 42, 4);
    const size_t data = local + 30 + Le(zip, local + 26, 2) + Le(zip, local + 28, 2);
    item.packed.assign(zip.begin() + data, zip.begin() + data + item.packed_size);
    items.push_back(std::move(item));
    at += 46 + name_length + Le(zip, at + 30, 2) + Le(zip, at + 32, 2);
  }
  return items;
}

TEST(LegacyFixtures, ItemsFromOtherArchiversExpandWithTheirCrc) {
  if (!std::filesystem::is_directory(kFixtures)) {
    GTEST_SKIP() << "no sample archives at " << kFixtures << "; nothing to compare with";
  }
  const char* const kArchives[] = {
      "jsummers-oldunzip/example-s.zip",      "jsummers-oldunzip/example-r.zip",
      "jsummers-oldunzip/example-i.zip",      "commons-compress/SHRUNK.ZIP",
      "commons-compress/imploding-4Kdict-2trees.zip",
      "commons-compress/imploding-8Kdict-3trees.zip",
      "commons-compress/moby-imploded.zip",   "commons-compress/lorem-ipsum-implode.zip"};
  int expanded = 0;
  bool seen[7] = {};
  for (const char* archive : kArchives) {
    const std::filesystem::path path = kFixtures / archive;
    if (!std::filesystem::exists(path)) {
      ADD_FAILURE() << "missing sample archive " << path;
      continue;
    }
    for (const FixtureItem& item : ReadItems(path)) {
      if (item.method < 1 || item.method > 6) continue;
      legacy_test::ExpandSettings s;
      s.method = static_cast<uint8_t>(item.method);
      s.unpacked_size = static_cast<int32_t>(item.unpacked_size);
      s.dictionary = (item.flags & 2) ? kImplodeDictionary8K : kImplodeDictionary4K;
      s.trees = (item.flags & 4) ? 3 : 2;
      const legacy_test::Expansion e = legacy_test::ExpandBytes(item.packed, s);
      EXPECT_EQ(e.output.size(), item.unpacked_size) << archive << " " << item.name;
      EXPECT_EQ(e.crc, item.crc) << archive << " " << item.name;
      seen[item.method] = true;
      ++expanded;
    }
  }
  EXPECT_GT(expanded, 50);
  EXPECT_TRUE(seen[1] && seen[5] && seen[6]) << "shrink, reduce and implode all covered";
}

}  // namespace
}  // namespace velmora
