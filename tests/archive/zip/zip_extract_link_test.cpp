// Stored Unix symbolic links: made as links in host folders when they stay
// inside the target folder, written as files holding their text otherwise
// and on the prefix's own drives, and never a way out for a later item.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "archive/base/exceptions.h"
#include "archive/zip/zip_extract.h"
#include "archive/zip/zip_extract_link.h"
#include "tests/archive/zip/extract_fixture.h"
#include "tests/archive/zip/zip_test_prefix.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using extract_test::MemoryZip;
using testing::BuildZip;
using testing::Bytes;
using testing::ZipWriterEntry;

// As zip -y stores a link: made on Unix (3, version 3.0), mode 0120777 in
// the high 16 bits of the external attributes, the link's text as data.
ZipWriterEntry Link(const std::string& name, const std::string& text) {
  ZipWriterEntry entry{.name = name, .data = Bytes(text)};
  entry.version_made_by = 0x031E;
  entry.external_attributes = uint32_t{S_IFLNK | 0777} << 16;
  return entry;
}

std::string ReadText(const std::string& host) {
  std::ifstream in(host, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class ExtractLinkTest : public ZipScratchTest {
 protected:
  void SetUp() override {
    ZipScratchTest::SetUp();
    fs::create_directories(Host("out"));
  }
  // Extracts every item, each failure kept as its message.
  std::vector<std::string> ExtractAll(const std::vector<ZipWriterEntry>& entries,
                                      const std::string& windows_base = "") {
    zip_ = std::make_unique<MemoryZip>(BuildZip(entries).bytes);
    if (windows_base.empty()) {
      zip_->archive.SetHostBaseDirectory(Host("out"));
    } else {
      zip_->archive.SetBaseDirectory(windows_base);
    }
    zip_->archive.ExtractOptions = eoCreateDirs | eoRestorePath;
    zip_->archive.OnLink = [this](TAbZipItem& item, const std::string& text, bool restored) {
      heard_.push_back(item.GetStoredName() + (restored ? " -> " : " as file: ") + text);
    };
    std::vector<std::string> failures;
    for (int i = 0; i < zip_->archive.ItemCount(); ++i) {
      try {
        UnzipItemToFile(zip_->archive, zip_->Item(i), zip_->Item(i).GetStoredName());
      } catch (const std::exception& e) {
        failures.push_back(zip_->Item(i).GetStoredName() + ": " + e.what());
      }
    }
    return failures;
  }
  bool IsLinkTo(const std::string& relative, const std::string& text) const {
    return fs::is_symlink(Host(relative)) && fs::read_symlink(Host(relative)) == text;
  }

  std::unique_ptr<MemoryZip> zip_;
  std::vector<std::string> heard_;
};

TEST_F(ExtractLinkTest, LinkThatStaysInsideBecomesALink) {
  EXPECT_TRUE(ExtractAll({{.name = "f", .data = Bytes("file")}, Link("d/back", "../f"),
                          Link("self", ".")})
                  .empty());
  EXPECT_EQ(ReadText(Host("out/d/back")), "file");
  EXPECT_TRUE(IsLinkTo("out/self", "."));
  EXPECT_EQ(heard_, (std::vector<std::string>{"d/back -> ../f", "self -> ."}));
  EXPECT_EQ(std::distance(fs::directory_iterator(Host("out")), {}), 3) << "no hidden name left";
  // What may lead out: ".." after a name (which may be a link), or above.
  EXPECT_TRUE(LinkStaysInside("../../x/y", 2));
  EXPECT_FALSE(LinkStaysInside("../../../x", 2));
  EXPECT_FALSE(LinkStaysInside("x/../y", 3));
}

// The classic escape in two items: a link, then an item below it. The
// walk never passes a link, so the second item fails and writes nothing.
// A link replaces a file of its name, never a folder.
TEST_F(ExtractLinkTest, ItemBelowALinkIsNeverWrittenThroughIt) {
  fs::create_directories(Host("elsewhere"));
  fs::create_directories(Host("out/folder/inside"));
  testing::WriteHostFile(Host("out/a"), Bytes("old"));
  const std::vector<std::string> failures =
      ExtractAll({Link("a", "."), {.name = "a/x", .data = Bytes("escaped")},
                  Link("b", Host("elsewhere")), {.name = "b/x", .data = Bytes("escaped")},
                  Link("folder", ".")});
  ASSERT_EQ(failures.size(), 3u);
  EXPECT_EQ(failures[0], "a/x: " + Host("out/a") + " is a symbolic link; not extracting through it");
  EXPECT_EQ(failures[1].rfind("b/x: ", 0), 0u) << failures[1];
  EXPECT_EQ(failures[2].rfind("folder: ", 0), 0u) << failures[2];
  EXPECT_TRUE(fs::is_directory(Host("out/folder/inside")));
  EXPECT_TRUE(fs::is_empty(Host("elsewhere")));
  EXPECT_FALSE(fs::exists(Host("out/x")));
  EXPECT_EQ(ReadText(Host("out/b")), Host("elsewhere"));
}

TEST_F(ExtractLinkTest, PrefixDriveTakesTheTextAsAFile) {
  fs::create_directories(VelmoraPrefix() + "/drive_c/target");
  EXPECT_TRUE(ExtractAll({Link("l", "f")}, "C:\\target").empty());
  const std::string on_c = VelmoraPrefix() + "/drive_c/target/l";
  EXPECT_FALSE(fs::is_symlink(on_c));
  EXPECT_EQ(ReadText(on_c), "f");
  EXPECT_TRUE(heard_.empty());
}

}  // namespace
}  // namespace velmora
