#include "archive/zip/zip_archive.h"

#include <gtest/gtest.h>

#include "archive/zip/zip_directory.h"
#include "platform/file_stream.h"
#include "tests/archive/zip/zip_test_prefix.h"
#include "tests/support/zip_writer.h"

namespace velmora {
namespace {

// The archive writer's names: BuildZip, Bytes, ZipImage, ZipWriterEntry, ...
using namespace velmora::testing;

constexpr uint16_t kReadShared = fmOpenRead | fmShareDenyNone;  // 0x40, as the unzipper opens

// Loads an archive from bytes in memory and keeps the progress it reported.
struct LoadedZip {
  explicit LoadedZip(std::vector<uint8_t> bytes)
      : stream(std::move(bytes)), archive(&stream, "t.zip") {
    archive.OnArchiveProgress = [this](void*, uint8_t p, bool&) { progress.push_back(p); };
  }
  TMemoryStream stream;
  TAbZipArchive archive;
  std::vector<int> progress;
};

std::vector<ZipWriterEntry> ThreeEntries() {
  return {{.name = "a.txt", .data = Bytes("alpha"), .dos_time = 0x1234, .dos_date = 0x5678},
          {.name = "dir/sub/x.txt", .data = Bytes(std::string(5000, 'x')), .method = 8},
          {.name = "c.bin", .data = {}, .external_attributes = 0x81A40000}};
}

TEST(ZipArchive, ListsItemsInDirectoryOrderWithTheirValues) {
  ZipImage zip = BuildZip(ThreeEntries());
  LoadedZip z(zip.bytes);
  z.archive.Load();
  ASSERT_EQ(z.archive.ItemCount(), 3);
  TAbZipItem& a = *z.archive.ZipItems(0);
  EXPECT_EQ(a.GetStoredName(), "a.txt");
  EXPECT_EQ(a.GetUnpackedSize(), 5);
  EXPECT_EQ(a.GetPackedSize(), 5);
  EXPECT_EQ(a.GetCrc32(), testing::Crc32Of(Bytes("alpha")));
  EXPECT_EQ(a.GetDosTime(), 0x1234);
  EXPECT_EQ(a.GetDosDate(), 0x5678);
  EXPECT_EQ(a.GetHostAttributes(), 0x20u);
  EXPECT_EQ(a.LocalHeaderOffset(), 0u);
  EXPECT_EQ(a.NeededVersion(), 20);
  EXPECT_EQ(a.PendingAction, iaNone);
  TAbZipItem& x = *z.archive.ZipItems(1);
  EXPECT_EQ(x.Method(), 8);
  EXPECT_LT(x.GetPackedSize(), 5000);
  EXPECT_EQ(x.LocalHeaderOffset(), zip.local_header_positions[1]);
  EXPECT_EQ(z.archive.ZipItems(2)->GetHostAttributes(), 0x81A40000u);
  EXPECT_EQ(z.progress, (std::vector<int>{33, 66, 100, 100}));
  EXPECT_FALSE(z.archive.ExecutableStub);
  EXPECT_FALSE(z.archive.Spanned);
  EXPECT_EQ(z.archive.ActiveDisk, 0);
  EXPECT_EQ(z.archive.State, stIdle);
}

TEST(ZipArchive, StoredNameKeepsSlashesAndDiskNameUsesBackslashes) {
  LoadedZip z(BuildZip(ThreeEntries()).bytes);
  z.archive.Load();
  EXPECT_EQ(z.archive.ZipItems(1)->GetStoredName(), "dir/sub/x.txt");
  EXPECT_EQ(z.archive.ZipItems(1)->DiskName, "dir\\sub\\x.txt");
  EXPECT_EQ(z.archive.ItemList().Find("DIR/SUB/X.TXT"), 1);
}

TEST(ZipArchive, MsDosNamesAreConvertedFromTheOemCodePage) {
  ZipWriterEntry dos{.name = "gr\x81n.txt", .data = Bytes("1")};
  ZipWriterEntry unix_host{.name = "gr\x81n.txt", .data = Bytes("2"), .version_made_by = 0x0314};
  ZipWriterEntry utf8{.name = "gr\xC3\xBCn.txt", .data = Bytes("3"), .flags = kAbFlagUtf8Names};
  LoadedZip z(BuildZip({dos, unix_host, utf8}).bytes);
  z.archive.Load();
  EXPECT_EQ(z.archive.ZipItems(0)->GetStoredName(), "gr\xC3\xBCn.txt");  // "grün.txt"
  EXPECT_EQ(z.archive.ZipItems(0)->DiskName, "gr\xC3\xBCn.txt");
  EXPECT_EQ(z.archive.ZipItems(1)->GetStoredName(), "gr\x81n.txt");
  EXPECT_EQ(z.archive.ZipItems(2)->GetStoredName(), "gr\xC3\xBCn.txt");
}

TEST(ZipArchive, LongNamesAreReadAndConvertedWhole) {
  std::string name(600, 'n');
  name[299] = '\x81';
  LoadedZip z(BuildZip({{.name = name, .data = Bytes("x")}}).bytes);
  z.archive.Load();
  std::string expected = name.substr(0, 299) + "\xC3\xBC" + name.substr(300);
  EXPECT_EQ(z.archive.ZipItems(0)->GetStoredName(), expected);
}

TEST(ZipArchive, EmptyArchiveHasNoItemsAndReportsOnlyTheFinalProgress) {
  LoadedZip z(BuildZip({}).bytes);
  z.archive.Load();
  EXPECT_EQ(z.archive.ItemCount(), 0);
  EXPECT_EQ(z.progress, (std::vector<int>{100}));
  LoadedZip nothing({});
  nothing.archive.Load();
  EXPECT_EQ(nothing.archive.ItemCount(), 0);
}

// Once refused; now read as unzip reads it, with the bytes in front counted
// in and reported.
TEST(ZipArchive, ArchiveAppendedWithRelativeOffsetsIsReadWithItsShift) {
  ZipWriterOptions options;
  options.stub = testing::MakePeStubWithCertificate(0x800, 0x100);
  options.absolute_offsets = false;
  ZipImage zip = BuildZip(ThreeEntries(), options);
  LoadedZip z(zip.bytes);
  z.archive.Load();
  ASSERT_EQ(z.archive.ItemCount(), 3);
  EXPECT_EQ(z.archive.ExtraBytes, static_cast<int64_t>(options.stub.size()));
  EXPECT_EQ(z.archive.ZipItems(0)->LocalHeaderOffset(), zip.local_header_positions[0]);
  EXPECT_EQ(z.archive.StubLength, static_cast<int32_t>(options.stub.size()));
}

TEST(ZipArchive, ArchiveAppendedWithAbsoluteOffsetsIsReadAsItIs) {
  ZipWriterOptions options;
  options.stub = testing::MakePeStubWithCertificate(0x800, 0x100);
  ZipImage zip = BuildZip(ThreeEntries(), options);
  LoadedZip z(zip.bytes);
  z.archive.Load();
  EXPECT_EQ(z.archive.ItemCount(), 3);
  EXPECT_TRUE(z.archive.ExecutableStub);
  EXPECT_EQ(z.archive.StubLength, 0x900);
  EXPECT_EQ(z.archive.ZipItems(0)->LocalHeaderOffset(), 0x900u);
}

TEST(ZipArchive, ElfProgramWithTheZipBehindItCountsAsAStub) {
  ZipWriterOptions options;
  options.stub = testing::MakeElfStub(0x1234);
  LoadedZip z(BuildZip(ThreeEntries(), options).bytes);
  z.archive.Load();
  EXPECT_EQ(z.archive.ItemCount(), 3);
  EXPECT_TRUE(z.archive.ExecutableStub);
  EXPECT_EQ(z.archive.StubLength, 0x1234);
}

TEST(ZipArchive, AbortWhileReadingTheDirectoryInvalidatesTheArchive) {
  LoadedZip z(BuildZip(ThreeEntries()).bytes);
  z.archive.OnArchiveProgress = [](void*, uint8_t p, bool& abort) { abort = p > 50; };
  EXPECT_THROW(z.archive.Load(), EAbUserAbort);
  EXPECT_EQ(z.archive.State, stInvalid);
  EXPECT_EQ(z.archive.ItemCount(), 2);
  EXPECT_THROW(z.archive.ExtractByMask("*.*"), EAbNoArchive);
}

TEST(ZipArchive, ExtractionWithoutACallbackIsRefusedPerItem) {
  LoadedZip z(BuildZip(ThreeEntries()).bytes);
  z.archive.Load();
  try {
    z.archive.ExtractItemToFile(0, "x");
    FAIL() << "extracted";
  } catch (const EAbZipNoExtraction& e) {
    EXPECT_STREQ(e.what(), "Cannot extract file - no extraction support provided");
  }
  EXPECT_THROW(z.archive.ExtractItemToStream(0, &z.stream), EAbZipNoExtraction);
  EXPECT_THROW(z.archive.VerifyItem(0), EAbZipNoExtraction);
  std::vector<int32_t> codes;
  z.archive.OnProcessItemFailure = [&codes](void*, TAbArchiveItem*, TAbProcessType,
                                            TAbErrorClass error_class, int32_t code) {
    EXPECT_EQ(error_class, ekArchive);
    codes.push_back(code);
  };
  z.archive.ExtractByMask("*.txt");
  EXPECT_EQ(codes, (std::vector<int32_t>{AbNoExtractionMethod, AbNoExtractionMethod}));
}

TEST(ZipArchive, CallbacksReceiveTheArchiveTheItemAndTheTarget) {
  LoadedZip z(BuildZip(ThreeEntries()).bytes);
  z.archive.Load();
  std::vector<std::string> calls;
  z.archive.ExtractFileCallback = [&](TAbZipArchive& a, TAbZipItem& item, const std::string& name) {
    EXPECT_EQ(&a, &z.archive);
    calls.push_back(item.GetStoredName() + ">" + name);
  };
  z.archive.ExtractStreamCallback = [&](TAbZipArchive&, TAbZipItem& item, TStream* out) {
    EXPECT_EQ(out, &z.stream);
    calls.push_back("stream:" + item.GetStoredName());
  };
  z.archive.TestCallback = [&](TAbZipArchive&, TAbZipItem& item) {
    calls.push_back("test:" + item.GetStoredName());
  };
  z.archive.ExtractByMask("dir\\sub\\*.txt;c.*");
  z.archive.ExtractItemToStream(0, &z.stream);
  z.archive.VerifyItem(2);
  EXPECT_EQ(calls, (std::vector<std::string>{"dir/sub/x.txt>dir/sub/x.txt", "c.bin>c.bin",
                                             "stream:a.txt", "test:c.bin"}));
}

// Damaged directories: each fails with EAbZipInvalid, keeping what was read.
struct Damage {
  const char* what;
  int items_kept;
};

void ExpectInvalid(const std::vector<uint8_t>& bytes, int items_kept, const char* what) {
  LoadedZip z(bytes);
  EXPECT_THROW(z.archive.Load(), EAbZipInvalid) << what;
  EXPECT_EQ(z.archive.ItemCount(), items_kept) << what;
  EXPECT_EQ(z.archive.State, stIdle) << what;
}

TEST(ZipArchiveDamage, WrongSignatureInAnyRecordIsInvalid) {
  ZipImage zip = BuildZip(ThreeEntries());
  for (int i = 0; i < 3; ++i) {
    std::vector<uint8_t> bytes = zip.bytes;
    bytes[zip.central_header_positions[i] + 3] ^= 0x40;
    ExpectInvalid(bytes, i, "central header");
  }
  std::vector<uint8_t> bytes = zip.bytes;
  bytes[zip.end_record_position + 1] = 'Q';
  ExpectInvalid(bytes, 0, "end record");
  ZipWriterOptions options;
  options.end_signature = 0x06064B50;
  ExpectInvalid(BuildZip(ThreeEntries(), options).bytes, 0, "zip64 signature instead");
}

// A directory offset into the stub was refused; now the directory is read
// where it really ends, at the end record, since its first item's local
// header is where that item says (only the directory's offset is wrong).
TEST(ZipArchiveDamage, DirectoryOffsetIntoTheStubIsMendedPastTheEndIsInvalid) {
  ZipWriterOptions options;
  options.stub = testing::MakeElfStub(0x200);
  options.directory_offset = 0x10;
  LoadedZip z(BuildZip(ThreeEntries(), options).bytes);
  z.archive.Load();
  EXPECT_EQ(z.archive.ItemCount(), 3);
  EXPECT_EQ(z.archive.ExtraBytes, 0);
  ZipWriterOptions past;
  past.directory_offset = 0x7FFFFFF0;
  ExpectInvalid(BuildZip(ThreeEntries(), past).bytes, 0, "past the end");
}

TEST(ZipArchiveDamage, NameRunningPastTheEndIsInvalid) {
  ZipImage zip = BuildZip(ThreeEntries());
  std::vector<uint8_t> bytes = zip.bytes;
  // Name length of the last central header: 0xFFFF.
  bytes[zip.central_header_positions[2] + 28] = 0xFF;
  bytes[zip.central_header_positions[2] + 29] = 0xFF;
  ExpectInvalid(bytes, 2, "name length");
}

TEST(ZipArchiveDamage, FileCutAnywhereFailsCleanly) {
  ZipImage zip = BuildZip(ThreeEntries());
  for (size_t keep = 1; keep < zip.bytes.size(); keep += 7) {
    std::vector<uint8_t> cut(zip.bytes.begin(), zip.bytes.begin() + keep);
    LoadedZip z(cut);
    EXPECT_THROW(z.archive.Load(), EAbZipInvalid) << keep;
  }
}

TEST(ZipArchiveDamage, EntryCountsThatDisagreeDoNotMatterAndProgressStaysInRange) {
  ZipWriterOptions options;
  options.total_entries = 1;
  options.entries_on_disk = 7;
  LoadedZip z(BuildZip(ThreeEntries(), options).bytes);
  z.archive.Load();
  EXPECT_EQ(z.archive.ItemCount(), 3);
  EXPECT_EQ(z.progress, (std::vector<int>{100, 100, 100, 100}));
  options.total_entries = 0;
  LoadedZip zero(BuildZip(ThreeEntries(), options).bytes);
  zero.archive.Load();
  EXPECT_EQ(zero.archive.ItemCount(), 3);
}

class ZipArchiveFiles : public ZipScratchTest {};

TEST_F(ZipArchiveFiles, InstallerLayoutIsASelfExtractingZipReadFromTheEnd) {
  // The installer's layout: program image, certificate block, then the ZIP
  // with offsets counted from the start of the whole file.
  const uint32_t image = 0x4000, certificate = 0x15B8;
  std::string prefix = "Velmora/Applications/Server/Client/Install/";
  std::vector<ZipWriterEntry> entries;
  for (const char* name : {"ZIVizazazErurereRireridoz.exe", "VelmoraVirtualPrinter.exe",
                           "Readme.txt", "VelmoraClientInstall.exe"}) {
    entries.push_back(
        {.name = prefix + name, .data = Bytes(std::string(3000, name[0])), .method = 8});
  }
  ZipWriterOptions options;
  options.stub = testing::MakePeStubWithCertificate(image, certificate);
  ZipImage zip = BuildZip(entries, options);
  std::string file = Put("setup.exe", zip.bytes);

  TFileStream stream(file, kReadShared);
  EXPECT_EQ(CheckSelfExtractingFile(stream), akSelfExtractingZip);
  EXPECT_EQ(CheckZipFile(stream), akZip);
  EXPECT_EQ(FindEndOfDirectory(stream), static_cast<int64_t>(zip.bytes.size()) - 22);

  TAbZipArchive archive(file, kReadShared);
  archive.Load();
  ASSERT_EQ(archive.ItemCount(), 4);
  EXPECT_EQ(archive.ZipItems(2)->GetStoredName(), prefix + "Readme.txt");
  EXPECT_TRUE(archive.ExecutableStub);
  EXPECT_EQ(archive.StubLength, static_cast<int32_t>(image + certificate));
  EXPECT_EQ(archive.ArchiveFileName, file);
  EXPECT_EQ(archive.OpenMode(), kReadShared);
}

TEST_F(ZipArchiveFiles, SearchStaysInTheImageAfterFindingTheRecord) {
  ZipWriterOptions options;
  options.archive_comment = "comment";
  std::string file = Put("c.zip", BuildZip(ThreeEntries(), options).bytes);
  TAbSpanStream span(file, 0, mkFixed, kReadShared);
  EXPECT_GT(FindEndOfDirectory(span), 0);
  EXPECT_TRUE(span.StayInImage);
  std::string junk = Put("junk.bin", std::vector<uint8_t>(3000, 0x11));
  TAbSpanStream other(junk, 0, mkFixed, kReadShared);
  EXPECT_EQ(FindEndOfDirectory(other), -1);
  EXPECT_FALSE(other.StayInImage);
}

TEST_F(ZipArchiveFiles, TinyFileOnASpanStreamIsInvalid) {
  std::string file = Put("tiny.zip", Bytes("0123456789"));
  TAbZipArchive archive(file, kReadShared);
  EXPECT_THROW(archive.Load(), EAbZipInvalid);
}

TEST_F(ZipArchiveFiles, BareFileNameIsRefused) {
  try {
    TAbZipArchive archive("setup.zip", kReadShared);
    FAIL() << "opened";
  } catch (const EAbException& e) {
    EXPECT_STREQ(e.what(), "Full Path Required");
  }
}

}  // namespace
}  // namespace velmora
