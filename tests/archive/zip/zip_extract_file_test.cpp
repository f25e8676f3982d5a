// Extraction to files: target names, overwriting, what stays on disk after
// a failure, and the restored date, time and attributes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <ctime>
#include <filesystem>

#include "archive/base/exceptions.h"
#include "archive/zip/zip_archive.h"
#include "archive/zip/zip_extract.h"
#include "tests/archive/zip/extract_fixture.h"
#include "tests/archive/zip/zip_test_prefix.h"

namespace velmora {
namespace {

using extract_test::MemoryZip;
using testing::BuildZip;
using testing::Bytes;
using testing::ZipWriterEntry;

class UnzipItemToFileTest : public ZipScratchTest {
 protected:
  void SetUp() override {
    ZipScratchTest::SetUp();
    std::filesystem::create_directories(Host("out"));
  }
  std::unique_ptr<MemoryZip> Open(const std::vector<ZipWriterEntry>& entries,
                                  TAbExtractOptions options = eoCreateDirs) {
    auto z = std::make_unique<MemoryZip>(BuildZip(entries).bytes);
    z->archive.SetBaseDirectory(WindowsPath(Host("out")));
    z->archive.ExtractOptions = options;
    return z;
  }
  bool TempFolderEmpty() const { return std::filesystem::is_empty(Host("tmp")); }
};

TEST_F(UnzipItemToFileTest, DefaultOptionsWriteItemsFlat) {
  auto z = Open({{.name = "a/b/c.txt", .data = Bytes("flat"), .method = 8}});
  UnzipItemToFile(z->archive, z->Item(0), z->Item(0).GetStoredName());
  EXPECT_EQ(testing::ReadFileText(Host("out/c.txt")), "flat");
  EXPECT_FALSE(std::filesystem::exists(Host("out/a")));
  EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(UnzipItemToFileTest, RestorePathCreatesTheStoredFolders) {
  auto z = Open({{.name = "a/b/c.txt", .data = Bytes("deep")}, {.name = "a/e/", .data = {}}},
                eoCreateDirs | eoRestorePath);
  UnzipItemToFile(z->archive, z->Item(0), z->Item(0).GetStoredName());
  UnzipItemToFile(z->archive, z->Item(1), z->Item(1).GetStoredName());
  EXPECT_EQ(testing::ReadFileText(Host("out/a/b/c.txt")), "deep");
  EXPECT_TRUE(std::filesystem::is_directory(Host("out/a/e")));
}

TEST_F(UnzipItemToFileTest, RestorePathWithoutCreateDirsNeedsTheFolders) {
  auto z = Open({{.name = "a/c.txt", .data = Bytes("x")}}, eoRestorePath);
  EXPECT_THROW(UnzipItemToFile(z->archive, z->Item(0), "a/c.txt"), EAbNoSuchDirectory);
  EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(UnzipItemToFileTest, UnsafeNamesFailWithoutWritingOutside) {
  auto z = Open({{.name = "../evil.txt", .data = Bytes("x")}, {.name = "/abs.txt", .data = Bytes("x")}},
                eoCreateDirs | eoRestorePath);
  EXPECT_THROW(UnzipItemToFile(z->archive, z->Item(0), "../evil.txt"), EAbException);
  EXPECT_THROW(UnzipItemToFile(z->archive, z->Item(1), "/abs.txt"), EAbException);
  EXPECT_FALSE(std::filesystem::exists(Host("evil.txt")));
  EXPECT_TRUE(std::filesystem::is_empty(Host("out")));
}

TEST_F(UnzipItemToFileTest, DeclinedOverwriteLeavesTheOldFileAndReportsNothing) {
  testing::WriteHostFile(Host("out/a.txt"), Bytes("old"));
  auto z = Open({{.name = "a.txt", .data = Bytes("new")}});
  int asked = 0;
  z->archive.OnConfirmOverwrite = [&](std::string& name, bool& confirm) {
    ++asked;
    EXPECT_EQ(name, WindowsPath(Host("out")) + "\\a.txt");
    confirm = false;
  };
  z->RecordFailures();
  UnzipItemToFile(z->archive, z->Item(0), "a.txt");
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(testing::ReadFileText(Host("out/a.txt")), "old");
  EXPECT_TRUE(z->failures.empty());
  EXPECT_TRUE(z->steps.empty()) << "nothing was decompressed";
}

TEST_F(UnzipItemToFileTest, ExistingFileIsReplacedByDefault) {
  testing::WriteHostFile(Host("out/a.txt"), Bytes("old"));
  auto z = Open({{.name = "a.txt", .data = Bytes("new")}});
  UnzipItemToFile(z->archive, z->Item(0), "a.txt");
  EXPECT_EQ(testing::ReadFileText(Host("out/a.txt")), "new");
}

TEST_F(UnzipItemToFileTest, FailedItemKeepsAFileItNeverReplacedAndLeavesNoTemporaryFile) {
  testing::WriteHostFile(Host("out/a.txt"), Bytes("old"));
  auto z = Open({{.name = "a.txt", .data = Bytes("new"), .crc = 7}});
  EXPECT_THROW(UnzipItemToFile(z->archive, z->Item(0), "a.txt"), EAbZipBadCRC);
  EXPECT_EQ(testing::ReadFileText(Host("out/a.txt")), "old");
  EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(UnzipItemToFileTest, CrcMismatchWithAFailureHandlerWritesTheFile) {
  auto z = Open({{.name = "a.txt", .data = Bytes("new"), .method = 8, .crc = 7}});
  z->RecordFailures();
  UnzipItemToFile(z->archive, z->Item(0), "a.txt");
  EXPECT_EQ(testing::ReadFileText(Host("out/a.txt")), "new");
  ASSERT_EQ(z->failures.size(), 1u);
  EXPECT_EQ(z->failures[0].code, AbZipBadCRC);
}

TEST_F(UnzipItemToFileTest, TargetThatCannotBeWrittenIsErrorMovingFile) {
  // A folder where the file should go: the copy cannot replace it.
  std::filesystem::create_directories(Host("out/a.txt"));
  auto z = Open({{.name = "a.txt", .data = Bytes("new")}});
  try {
    UnzipItemToFile(z->archive, z->Item(0), "a.txt");
    FAIL();
  } catch (const EAbException& e) {
    // The new file was made in the target's own folder.
    const std::string target = WindowsPath(Host("out")) + "\\a.txt";
    EXPECT_EQ(e.Message().rfind("Error Moving File " + WindowsPath(Host("out")) + "\\", 0), 0u)
        << e.Message();
    EXPECT_NE(e.Message().find(" to " + target), std::string::npos) << e.Message();
  }
  EXPECT_TRUE(std::filesystem::is_directory(Host("out/a.txt")));
  EXPECT_TRUE(TempFolderEmpty());
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Host("out")), {}), 1);
}

TEST_F(UnzipItemToFileTest, UserAbortInvalidatesTheArchive) {
  auto z = Open({{.name = "a.bin", .data = std::vector<uint8_t>(5000, 1)}});
  z->abort_at = 20;
  EXPECT_THROW(UnzipItemToFile(z->archive, z->Item(0), "a.bin"), EAbUserAbort);
  EXPECT_EQ(z->archive.State, stInvalid);
  EXPECT_FALSE(std::filesystem::exists(Host("out/a.bin")));
  EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(UnzipItemToFileTest, RestoresTheItemsLocalDateAndTimeAndReadOnly) {
  // 2020-06-15 13:45:30 local time; attribute read-only | archive.
  const uint16_t date = ((2020 - 1980) << 9) | (6 << 5) | 15;
  const uint16_t time = (13 << 11) | (45 << 5) | (30 / 2);
  auto z = Open({{.name = "a.txt", .data = Bytes("x"), .dos_time = time, .dos_date = date,
                  .external_attributes = 0x21}});
  UnzipItemToFile(z->archive, z->Item(0), "a.txt");
  struct stat st {};
  ASSERT_EQ(::stat(Host("out/a.txt").c_str(), &st), 0);
  std::tm local{};
  const time_t mtime = st.st_mtime;
  localtime_r(&mtime, &local);
  EXPECT_EQ(local.tm_year + 1900, 2020);
  EXPECT_EQ(local.tm_mon + 1, 6);
  EXPECT_EQ(local.tm_mday, 15);
  EXPECT_EQ(local.tm_hour, 13);
  EXPECT_EQ(local.tm_min, 45);
  EXPECT_EQ(local.tm_sec, 30);
  EXPECT_EQ(st.st_mode & 0222, 0u) << "read-only clears the write bits";
}

TEST_F(UnzipItemToFileTest, ExtendedTimestampGivesTheExactTimeBeforeTheDosTime) {
  // "UT" with the modification time 1700000001 (odd: no DOS time holds it).
  const std::string ut = std::string("UT\x05\x00\x01", 5) + std::string("\x01\xF1\x53\x65", 4);
  auto z = Open({{.name = "a.txt", .data = Bytes("x"), .central_extra = ut}});
  UnzipItemToFile(z->archive, z->Item(0), "a.txt");
  struct stat st {};
  ASSERT_EQ(::stat(Host("out/a.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 1700000001);
}

TEST_F(UnzipItemToFileTest, ExtractedFilesTakeTheModeOfANewFileNotTheTemporaryOnes) {
  // The temporary file is 0600 while it is written; the user's file must
  // not stay private (nor the program unreadable to others).
  const mode_t old_mask = ::umask(022);
  auto z = Open({{.name = "doc.txt", .data = Bytes("d"), .external_attributes = 0x20},
                 {.name = "setup.exe", .data = Bytes("x"), .external_attributes = 0x20}});
  UnzipItemToFile(z->archive, z->Item(0), "doc.txt");
  UnzipItemToFile(z->archive, z->Item(1), "setup.exe");
  ::umask(old_mask);
  struct stat st {};
  ASSERT_EQ(::stat(Host("out/doc.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  ASSERT_EQ(::stat(Host("out/setup.exe").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
}

TEST_F(UnzipItemToFileTest, StoredItemsAcrossAndBeyondTheReadBufferComeOutWhole) {
  // An archive file is read through a 256 KiB buffer that stored data is
  // handed on from in place: the second item starts inside the first fill
  // and runs past it, the third is larger than the buffer.
  auto pattern = [](size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 131 + seed) >> 3);
    return bytes;
  };
  const std::vector<std::vector<uint8_t>> data = {pattern(200000, 1), pattern(100000, 2),
                                                  pattern(700001, 3)};
  const std::string zip = Put(
      "big.zip", BuildZip({{.name = "a", .data = data[0]}, {.name = "b", .data = data[1]},
                           {.name = "c", .data = data[2]}}).bytes);
  TAbZipArchive archive(zip, fmOpenRead | fmShareDenyNone);
  archive.Load();
  archive.SetBaseDirectory(WindowsPath(Host("out")));
  for (int i = 0; i < 3; ++i) {
    const std::string name(1, static_cast<char>('a' + i));
    UnzipItemToFile(archive, *archive.ZipItems(i), name);
    EXPECT_TRUE(testing::ReadFileText(Host("out/" + name)) == std::string(data[i].begin(), data[i].end()))
        << name;
    TestZipItem(archive, *archive.ZipItems(i));
  }
}

TEST_F(UnzipItemToFileTest, PythonsTypelessUnixModeGivesItsBitsAndNoDosAttributes) {
  // zipfile.writestr stores 0600 without file type bits and DOS bits 0.
  auto z = Open({{.name = "p.txt", .data = Bytes("p"), .external_attributes = 0600u << 16}});
  UnzipItemToFile(z->archive, z->Item(0), "p.txt");
  struct stat st {};
  ASSERT_EQ(::stat(Host("out/p.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(::getxattr(Host("out/p.txt").c_str(), "user.DOSATTRIB", nullptr, 0), -1);
}

}  // namespace
}  // namespace velmora
