#include "archive/unzipper/unzipper.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "archive/base/exceptions.h"
#include "tests/archive/zip/extract_fixture.h"
#include "tests/archive/zip/zip_test_prefix.h"
#include "tests/support/zip_writer.h"

namespace velmora {
namespace {

using testing::BuildZip;
using testing::Bytes;
using testing::ZipWriterEntry;
using testing::ZipWriterOptions;

std::string ReadText(const std::string& host) {
  std::ifstream in(host, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<ZipWriterEntry> Payload() {
  return {{.name = "Top/Apps/Velmora/Client/x/a.exe", .data = Bytes("program a"), .method = 8},
          {.name = "Top/Apps/Velmora/Client/x/Readme.txt", .data = Bytes("read me"), .method = 8}};
}

class UnZipperTest : public ZipScratchTest {
 protected:
  void SetUp() override {
    ZipScratchTest::SetUp();
    std::filesystem::create_directories(Host("out"));
  }
  std::string PutZip(const std::string& name, const std::vector<ZipWriterEntry>& entries,
                     const ZipWriterOptions& options = {}) {
    return Put(name, BuildZip(entries, options).bytes);
  }
  template <typename E>
  std::string MessageOf(const std::function<void()>& action) {
    try {
      action();
    } catch (const E& e) {
      return e.Message();
    }
    return "(nothing raised)";
  }
  TAbUnZipper unzipper;
};

TEST(TAbUnZipper, VersionIsTheComponentsOwnAndCannotBeSet) {
  TAbUnZipper u;
  u.SetVersion("9.99");
  EXPECT_EQ(u.Version(), "3.05");
}

// A caller that only adds path restoring gets the item's folders made.
TEST_F(UnZipperTest, NewUnZipperRestoringPathsMakesTheItemsFolders) {
  unzipper.SetFileName(PutZip("a.zip", Payload()));
  unzipper.SetBaseDirectory(WindowsPath(Host("out")));
  unzipper.SetExtractOptions(unzipper.ExtractOptions() | eoRestorePath);
  unzipper.ExtractByMask("*.*");
  EXPECT_EQ(ReadText(Host("out/Top/Apps/Velmora/Client/x/a.exe")), "program a");
  EXPECT_EQ(ReadText(Host("out/Top/Apps/Velmora/Client/x/Readme.txt")), "read me");
}

TEST_F(UnZipperTest, NewUnZipperAsksForAnotherPasswordThreeTimesThenGivesUpOnTheItem) {
  const std::vector<uint8_t> plain = Bytes("secret contents");
  testing::ZipImage zip = BuildZip({extract_test::EncryptedEntry("a.txt", plain, "right", false)});
  unzipper.SetFileName(Put("a.zip", zip.bytes));
  unzipper.SetBaseDirectory(WindowsPath(Host("out")));
  unzipper.SetPassword("wrong");
  int asked = 0;
  unzipper.OnNeedPassword = [&](void*, std::string& password) {
    ++asked;
    password = "still wrong";
  };
  std::vector<int32_t> failures;
  unzipper.OnProcessItemFailure = [&](void*, TAbArchiveItem*, TAbProcessType, TAbErrorClass,
                                      int32_t code) { failures.push_back(code); };
  unzipper.ExtractByMask("*.*");
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(failures, (std::vector<int32_t>{AbInvalidPassword}));
  EXPECT_FALSE(std::filesystem::exists(Host("out/a.txt")));
}

TEST(TAbUnZipper, ExtractByMaskWithoutAnArchiveIsNoArchive) {
  TAbUnZipper u;
  try {
    u.ExtractByMask("*.*");
    FAIL();
  } catch (const EAbNoArchive& e) {
    EXPECT_EQ(e.Message(), "Archive does not exist - Filename is blank");
  }
}

TEST_F(UnZipperTest, FileNameOfAMissingFileIsFileNotFoundAndChangesNothing) {
  const std::string good = PutZip("a.zip", Payload());
  unzipper.SetFileName(good);
  TAbArchive* open = unzipper.Archive();
  EXPECT_EQ(MessageOf<EAbFileNotFound>([&] { unzipper.SetFileName(good + ".missing"); }),
            "File not found");
  EXPECT_EQ(unzipper.FileName(), good);
  EXPECT_EQ(unzipper.Archive(), open);
}

TEST_F(UnZipperTest, FileNameOfAnEmptyFileIsInvalidStream) {
  const std::string empty = Put("empty.zip", {});
  EXPECT_EQ(MessageOf<EAbBadStream>([&] { unzipper.SetFileName(empty); }), "Invalid Stream");
  EXPECT_EQ(unzipper.Archive(), nullptr);
}

TEST_F(UnZipperTest, ZipUnderAnUnknownExtensionIsAnUnhandledType) {
  const std::string dat = PutZip("a.dat", Payload());
  EXPECT_EQ(MessageOf<EAbUnhandledType>([&] { unzipper.SetFileName(dat); }),
            "Unhandled Archive Type");
  EXPECT_EQ(unzipper.Archive(), nullptr);
  EXPECT_EQ(unzipper.FileName(), dat);
}

TEST_F(UnZipperTest, ForcedKindOpensAZipUnderAnyName) {
  const std::string dat = PutZip("a.dat", Payload());
  unzipper.ForceKind = true;
  unzipper.SetArchiveKind(akZip);
  unzipper.SetFileName(dat);
  ASSERT_NE(unzipper.Archive(), nullptr);
  EXPECT_EQ(unzipper.Archive()->ItemCount(), 2);
}

TEST_F(UnZipperTest, FirstOfByteSplitPartsOpensAsTheWholeZip) {
  const std::vector<uint8_t> whole = BuildZip(Payload()).bytes;
  const size_t half = whole.size() / 2;
  const std::string first = Put("set.zip.001", {whole.begin(), whole.begin() + half});
  Put("set.zip.002", {whole.begin() + half, whole.end()});
  EXPECT_EQ(DetectArchiveKind(first), akZip);
  unzipper.SetFileName(first);
  ASSERT_NE(unzipper.Archive(), nullptr);
  EXPECT_EQ(unzipper.Archive()->ItemCount(), 2);
}

TEST_F(UnZipperTest, JarOpensLikeZip) {
  unzipper.SetFileName(PutZip("a.JAR", Payload()));
  EXPECT_EQ(unzipper.ArchiveKind(), akZip);
  EXPECT_EQ(unzipper.Status(), stIdle);
}

TEST_F(UnZipperTest, ProgramWithAZipBehindItIsSelfExtracting) {
  ZipWriterOptions pe{.stub = testing::MakePeStubWithCertificate(4096, 512)};
  unzipper.SetFileName(PutZip("setup.Exe", Payload(), pe));
  EXPECT_EQ(unzipper.ArchiveKind(), akSelfExtractingZip);
  ZipWriterOptions elf{.stub = testing::MakeElfStub(8192)};
  unzipper.SetFileName(PutZip("velmora-server-setup", Payload(), elf));
  EXPECT_EQ(unzipper.ArchiveKind(), akSelfExtractingZip);
  EXPECT_EQ(unzipper.Archive()->ItemCount(), 2);
}

TEST_F(UnZipperTest, TarAndCabinetKindsAreNotOpened) {
  std::vector<uint8_t> tar(1024, 0);
  std::memcpy(tar.data() + 257, "ustar", 5);
  EXPECT_THROW(unzipper.SetFileName(Put("a.tar", tar)), EAbUnhandledType);
  EXPECT_THROW(unzipper.SetFileName(Put("a.cab", Bytes("MSCF"))), EAbUnhandledType);
}

TEST_F(UnZipperTest, LoadFailureKeepsTheArchiveAndTheKind) {
  std::vector<uint8_t> junk(100, 'j');
  EXPECT_THROW(unzipper.SetFileName(Put("bad.zip", junk)), EAbUnhandledType)
      << "no end record: not a ZIP by content";
  unzipper.ForceKind = true;
  unzipper.SetArchiveKind(akSpannedZip);
  unzipper.SetFileName(PutZip("good.zip", Payload()));
  unzipper.SetArchiveKind(akZip);
  EXPECT_THROW(unzipper.SetFileName(Put("bad2.zip", junk)), EAbZipInvalid);
  EXPECT_NE(unzipper.Archive(), nullptr);
  EXPECT_EQ(unzipper.ArchiveKind(), akZip);
}

TEST_F(UnZipperTest, EmptyFileNameClosesTheArchiveAndFiresOnChange) {
  int changes = 0;
  unzipper.OnChange = [&](void* sender) {
    EXPECT_EQ(sender, &unzipper);
    ++changes;
  };
  unzipper.SetFileName(PutZip("a.zip", Payload()));
  EXPECT_EQ(changes, 1);
  unzipper.SetFileName("");
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(unzipper.Archive(), nullptr);
  EXPECT_EQ(unzipper.Status(), stInvalid);
}

TEST_F(UnZipperTest, BaseDirectoryReadsBackAsTheArchiveStoresIt) {
  const std::string out = WindowsPath(Host("out"));
  unzipper.SetBaseDirectory(out + "\\");
  EXPECT_EQ(unzipper.BaseDirectory(), out + "\\");
  unzipper.SetFileName(PutZip("a.zip", Payload()));
  EXPECT_EQ(unzipper.BaseDirectory(), out);
  unzipper.SetBaseDirectory(out + "\\");
  EXPECT_EQ(unzipper.BaseDirectory(), out);
  EXPECT_EQ(unzipper.Archive()->BaseDirectory(), out);
  try {
    unzipper.SetBaseDirectory(out + "\\missing");
    FAIL();
  } catch (const EAbNoSuchDirectory& e) {
    EXPECT_EQ(e.Message(), "Directory does not exist");
  }
  EXPECT_EQ(unzipper.BaseDirectory(), out);
}

TEST_F(UnZipperTest, EmptyBaseDirectoryReplacesTheArchivesStartValue) {
  unzipper.SetFileName(PutZip("a.zip", Payload()));
  EXPECT_EQ(unzipper.Archive()->BaseDirectory(), "");
}

TEST_F(UnZipperTest, ArchiveKindCannotChangeWhileTheArchiveIsBusy) {
  unzipper.SetFileName(PutZip("a.zip", Payload()));
  unzipper.SetBaseDirectory(WindowsPath(Host("out")));
  std::string message;
  unzipper.OnConfirmProcessItem = [&](void*, TAbArchiveItem*, TAbProcessType, bool& confirm) {
    confirm = false;
    try {
      unzipper.SetArchiveKind(akTar);
    } catch (const EAbArchiveBusy& e) {
      message = e.Message();
    }
  };
  unzipper.ExtractByMask("*.*");
  EXPECT_EQ(message, "Archive is busy - cannot process new requests");
  unzipper.SetArchiveKind(akTar);  // idle again: stored, nothing reopened
  EXPECT_EQ(unzipper.ArchiveKind(), akTar);
  EXPECT_EQ(unzipper.Archive()->ItemCount(), 2);
}

TEST_F(UnZipperTest, ExtractsEveryItemFlatAndOverwritesByDefault) {
  testing::WriteHostFile(Host("out/a.exe"), Bytes("old"));
  unzipper.SetFileName(PutZip("a.zip", Payload()));
  unzipper.SetBaseDirectory(WindowsPath(Host("out")) + "\\");
  std::vector<int> progress;
  unzipper.OnArchiveProgress = [&](void* sender, uint8_t p, bool&) {
    EXPECT_EQ(sender, &unzipper);
    progress.push_back(p);
  };
  unzipper.ExtractByMask("*.*");
  EXPECT_EQ(ReadText(Host("out/a.exe")), "program a");
  EXPECT_EQ(ReadText(Host("out/Readme.txt")), "read me");
  EXPECT_FALSE(std::filesystem::exists(Host("out/Top")));
  EXPECT_EQ(progress, (std::vector<int>{50, 100, 100}));
}

TEST_F(UnZipperTest, FailingItemsAreReportedWithTheComponentAsSenderAndTheRestExtracted) {
  auto entries = Payload();
  entries[0].crc = 1;  // bad CRC: written all the same
  entries.push_back({.name = "c.txt", .data = Bytes("c")});
  auto zip = BuildZip(entries);
  zip.bytes[zip.local_header_positions[1]] = 'X';  // damaged: missing afterwards
  unzipper.SetFileName(Put("a.zip", zip.bytes));
  unzipper.SetBaseDirectory(WindowsPath(Host("out")));
  std::vector<std::pair<std::string, int32_t>> failures;
  unzipper.OnProcessItemFailure = [&](void* sender, TAbArchiveItem* item, TAbProcessType type,
                                      TAbErrorClass error_class, int32_t code) {
    EXPECT_EQ(sender, &unzipper);
    EXPECT_EQ(type, poExtract);
    EXPECT_EQ(error_class, ekArchive);
    failures.emplace_back(item->GetStoredName(), code);
  };
  unzipper.ExtractByMask("*.*");
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_EQ(failures[0].second, AbZipBadCRC);
  EXPECT_EQ(failures[1].second, AbErrZipInvalid);
  EXPECT_EQ(ReadText(Host("out/a.exe")), "program a");
  EXPECT_FALSE(std::filesystem::exists(Host("out/Readme.txt")));
  EXPECT_EQ(ReadText(Host("out/c.txt")), "c");
}

TEST_F(UnZipperTest, RestorePathAndDeclinedOverwriteGoThroughTheComponent) {
  std::filesystem::create_directories(Host("out/Top/Apps/Velmora/Client/x"));
  testing::WriteHostFile(Host("out/Top/Apps/Velmora/Client/x/a.exe"), Bytes("old"));
  unzipper.SetExtractOptions(eoCreateDirs | eoRestorePath);
  unzipper.SetFileName(PutZip("a.zip", Payload()));
  unzipper.SetBaseDirectory(WindowsPath(Host("out")));
  std::vector<std::string> asked;
  unzipper.OnConfirmOverwrite = [&](std::string& name, bool& confirm) {
    asked.push_back(name);
    confirm = false;
  };
  unzipper.ExtractByMask("*.*");
  EXPECT_EQ(asked.size(), 1u);
  EXPECT_EQ(ReadText(Host("out/Top/Apps/Velmora/Client/x/a.exe")), "old");
  EXPECT_EQ(ReadText(Host("out/Top/Apps/Velmora/Client/x/Readme.txt")), "read me");
}

TEST_F(UnZipperTest, PasswordQuestionGoesToTheApplicationAndIsKept) {
  unzipper.SetFileName(PutZip("a.zip", Payload()));
  auto* zip = dynamic_cast<TAbZipArchive*>(unzipper.Archive());
  ASSERT_NE(zip, nullptr);
  unzipper.SetPassword("first");
  EXPECT_EQ(zip->Password, "first");
  std::string answer = "unused";
  zip->OnNeedPassword(zip, answer);  // no application handler: unchanged
  EXPECT_EQ(answer, "unused");
  unzipper.OnNeedPassword = [&](void* sender, std::string& password) {
    EXPECT_EQ(sender, &unzipper);
    password = "second";
  };
  zip->OnNeedPassword(zip, answer);
  EXPECT_EQ(answer, "second");
  EXPECT_EQ(unzipper.Password(), "second");
  EXPECT_EQ(zip->Password, "second");
}

TEST_F(UnZipperTest, SettingsAreForwardedWhenTheArchiveOpensAndAtOnceAfterwards) {
  unzipper.SetPasswordRetries(0);
  unzipper.SetTempDirectory("Z:\\tmp");
  unzipper.SetFileName(PutZip("a.zip", Payload()));
  auto* zip = dynamic_cast<TAbZipArchive*>(unzipper.Archive());
  EXPECT_EQ(zip->PasswordRetries, 0);
  EXPECT_EQ(zip->TempDirectory, "Z:\\tmp");
  EXPECT_EQ(zip->ExtractOptions, eoCreateDirs);
  EXPECT_TRUE(zip->ExtractFileCallback);
  EXPECT_TRUE(zip->ExtractStreamCallback);
  EXPECT_TRUE(zip->TestCallback);
  unzipper.SetExtractOptions(eoRestorePath);
  unzipper.SetPasswordRetries(5);
  EXPECT_EQ(zip->ExtractOptions, eoRestorePath);
  EXPECT_EQ(zip->PasswordRetries, 5);
}

class CountingMeter : public TAbMeterLink {
 public:
  void ShowProgress(uint8_t progress) override { shown.push_back(progress); }
  void ResetMeter() override { ++resets; }
  std::vector<int> shown;
  int resets = 0;
};

TEST_F(UnZipperTest, MetersFollowTheProgressAndAreForgottenWhenDestroyed) {
  auto item_meter = std::make_unique<CountingMeter>();
  CountingMeter archive_meter;
  unzipper.SetItemProgressMeter(item_meter.get());
  unzipper.SetArchiveProgressMeter(&archive_meter);
  unzipper.SetFileName(PutZip("a.zip", Payload()));
  EXPECT_EQ(item_meter->resets, 1);  // ConnectArchive resets both
  EXPECT_EQ(archive_meter.resets, 1);
  unzipper.SetBaseDirectory(WindowsPath(Host("out")));
  unzipper.ExtractByMask("*.*");
  EXPECT_EQ(item_meter->resets, 3);  // and each item's confirmation the item meter
  EXPECT_FALSE(item_meter->shown.empty());
  EXPECT_EQ(archive_meter.shown.back(), 100);
  item_meter.reset();
  EXPECT_EQ(unzipper.ItemProgressMeter(), nullptr);
  EXPECT_EQ(unzipper.ArchiveProgressMeter(), &archive_meter);
  unzipper.SetArchiveProgressMeter(nullptr);
}

TEST_F(UnZipperTest, DetectsKindsByExtensionWhenTheFileIsMissingOrEmpty) {
  EXPECT_EQ(DetectArchiveKind(WindowsPath(Host("none.zip"))), akZip);
  EXPECT_EQ(DetectArchiveKind(WindowsPath(Host("none.jar"))), akZip);
  EXPECT_EQ(DetectArchiveKind(WindowsPath(Host("none.tar"))), akTar);
  EXPECT_EQ(DetectArchiveKind(WindowsPath(Host("none.gz"))), akGzip);
  EXPECT_EQ(DetectArchiveKind(WindowsPath(Host("none.tgz"))), akGzippedTar);
  EXPECT_EQ(DetectArchiveKind(WindowsPath(Host("none.cab"))), akCabinet);
  EXPECT_EQ(DetectArchiveKind(WindowsPath(Host("none.exe"))), akUnknown);
  EXPECT_EQ(DetectArchiveKind(Put("empty.zip", {})), akZip);
}

TEST_F(UnZipperTest, DetectsKindsByContent) {
  const auto zip = BuildZip(Payload()).bytes;
  EXPECT_EQ(DetectArchiveKind(Put("a.zip", zip)), akZip);
  EXPECT_EQ(DetectArchiveKind(Put("a.exe", zip)), akUnknown) << "not a program";
  EXPECT_EQ(DetectArchiveKind(Put("plain", zip)), akUnknown) << "no extension, not a program";
  EXPECT_EQ(DetectArchiveKind(Put("a.zip.txt", zip)), akUnknown);
  EXPECT_EQ(DetectArchiveKind(Put("b.zip", Bytes("not a zip at all, but long enough"))), akUnknown);
  EXPECT_EQ(DetectArchiveKind(Put("prog", testing::MakeElfStub(4096))), akUnknown)
      << "a program without a ZIP";
  std::vector<uint8_t> spanned = zip;
  spanned[2] = 0x07;
  spanned[3] = 0x08;
  EXPECT_EQ(DetectArchiveKind(Put("s.zip", spanned)), akSpannedZip);
  EXPECT_EQ(DetectArchiveKind(Put("a.gz", {0x1F, 0x8B, 8, 0})), akGzip);
}

}  // namespace
}  // namespace velmora
