// Whole archives with the newer methods, made at test time by 7-Zip and by
// Python's zipfile (skipped, saying so, when the tool is missing), and by
// the test encoders where neither writes the method: every item extracts
// and tests with its content, through a memory stream and a file stream. A
// WinZip AES item opens with its password only: a wrong one is the invalid
// password and writes nothing.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/base/exceptions.h"
#include "archive/crypt/winzip_aes.h"
#include "archive/methods/methods.h"
#include "archive/zip/bit_bucket_stream.h"
#include "archive/zip/zip_archive.h"
#include "archive/zip/zip_extract.h"
#include "platform/paths.h"
#include "tests/support/method_encoders.h"
#include "tests/support/process_runner.h"
#include "tests/support/scratch_fixture.h"
#include "tests/support/zip_writer.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A scratch folder that is also the prefix and the temporary folder, with
// three files to archive: text of some 130 KB, 11 bytes (AES writers use
// AE-2 for items this small) and an empty one.
class MethodArchives : public testing::ScratchPrefixFixture {
 protected:
  void SetUp() override {
    ScratchPrefixFixture::SetUp();
    fs::create_directories(root_ + "/in");
    fs::create_directories(root_ + "/out");
    files_ = {{"big.txt", testing::NumberedLines(5000)},
              {"small.txt", testing::Bytes("eleven byte")},
              {"empty.txt", {}}};
    for (const auto& [name, bytes] : files_) testing::WriteHostFile(root_ + "/in/" + name, bytes);
  }

  // Runs a shell command in the input folder; the archive goes to root_.
  void Run(const std::string& command) {
    const testing::ProcessResult result = testing::RunShell(command, {.folder = root_ + "/in"});
    ASSERT_EQ(result.exit_code, 0) << command << "\n" << result.out << result.err;
  }
  void Make7z(const std::string& options) {
    std::remove((root_ + "/a.zip").c_str());
    Run(seven_zip_ + " a -tzip " + options + " ../a.zip big.txt small.txt empty.txt");
  }

  // Extracts every item to memory and tests it; returns the contents.
  // 7-Zip writes other extra fields in the local header than in the
  // central one, which the full test (TestZipItem) refuses as a header
  // mismatch; its archives are tested through the same bit bucket without
  // that comparison.
  std::map<std::string, std::vector<uint8_t>> ExtractAll(TStream& stream,
                                                         const std::string& password,
                                                         bool same_headers = true) {
    TAbZipArchive archive(&stream, "a.zip");
    archive.Load();
    archive.Password = password;
    std::map<std::string, std::vector<uint8_t>> out;
    for (int i = 0; i < archive.ItemCount(); ++i) {
      TAbZipItem& item = *archive.ZipItems(i);
      TMemoryStream data;
      UnzipItemToStream(archive, item, &data);
      if (same_headers) {
        TestZipItem(archive, item);
      } else {
        TAbBitBucketStream bucket;
        UnzipItemToStream(archive, item, &bucket);
      }
      out[item.GetStoredName()] = data.Data();
    }
    return out;
  }
  void ExpectContents(const std::string& password = "", bool same_headers = true) {
    TMemoryStream memory(ReadFile(root_ + "/a.zip"));
    EXPECT_EQ(ExtractAll(memory, password, same_headers), files_);
    THandleStream file(::open((root_ + "/a.zip").c_str(), O_RDONLY));
    EXPECT_EQ(ExtractAll(file, password, same_headers), files_);
  }
  std::string seven_zip_ = testing::ProgramInstalled("7zz") ? "7zz"
                           : testing::ProgramInstalled("7z") ? "7z"
                                                             : "";
  std::map<std::string, std::vector<uint8_t>> files_;
};

#define REQUIRE_7ZIP()                                   \
  if (seven_zip_.empty())                                \
  GTEST_SKIP() << "7-Zip (7zz or 7z) is not installed: " \
                  "no archives of its making to read"

TEST_F(MethodArchives, SevenZipItemsOfEveryMethodExtractWithTheirContent) {
  REQUIRE_7ZIP();
  for (const char* method : {"BZip2", "LZMA", "XZ"}) {
    SCOPED_TRACE(method);
    Make7z(std::string("-mm=") + method);
    ExpectContents("", false);
  }
}

TEST_F(MethodArchives, SevenZipBzip2ItemOfSeveralBlocksExtractsAndTestsWithItsContent) {
  // Over 2 MB, so three blocks of 900 KB: decoded side by side.
  REQUIRE_7ZIP();
  files_ = {{"varied.txt", testing::VariedText(2300000)}};
  testing::WriteHostFile(root_ + "/in/varied.txt", files_["varied.txt"]);
  Run(seven_zip_ + " a -tzip -mm=BZip2 ../a.zip varied.txt");
  ExpectContents("", false);
}

TEST_F(MethodArchives, SevenZipAesItemsOfEveryStrengthAndMethodExtractWithTheirPassword) {
  REQUIRE_7ZIP();
  for (const char* strength : {"AES128", "AES192", "AES256"}) {
    for (const char* method : {"Copy", "Deflate", "BZip2", "LZMA", "XZ"}) {
      SCOPED_TRACE(std::string(strength) + " " + method);
      Make7z(std::string("-mm=") + method + " -mem=" + strength + " -pSecret7");
      ExpectContents("Secret7", false);
    }
  }
}

TEST_F(MethodArchives, SevenZipTraditionalEncryptionOverBzip2Extracts) {
  REQUIRE_7ZIP();
  Make7z("-mm=BZip2 -mem=ZipCrypto -pSecret7");
  ExpectContents("Secret7", false);
}

TEST_F(MethodArchives, PythonBzip2AndLzmaItemsExtractWithTheirContent) {
  VELMORA_SKIP_WITHOUT("python3");
  for (const char* method : {"ZIP_BZIP2", "ZIP_LZMA"}) {
    SCOPED_TRACE(method);
    std::remove((root_ + "/a.zip").c_str());
    Run(std::string("python3 -c \"import zipfile; z = zipfile.ZipFile('../a.zip', 'w', "
                    "zipfile.") +
        method + "); [z.write(n) for n in ('big.txt', 'small.txt', 'empty.txt')]; z.close()\"");
    ExpectContents();
  }
}

TEST_F(MethodArchives, TestEncoderItemsPlainAndUnderEveryAesVersionExtract) {
  // Zstandard has no writer on the system but the test encoder. AE-1 keeps
  // the CRC-32, AE-2 stores 0 in its place.
  const std::vector<uint8_t>& plain = files_["big.txt"];
  const std::map<uint16_t, std::vector<uint8_t>> packed = {
      {kZipMethodZstd, testing::ZstdCompress(plain)},
      {kZipMethodXz, testing::XzCompress(plain)},
      {kZipMethodLzma, testing::LzmaZipCompress(plain, false)},
      {kZipMethodStored, plain}};
  for (const auto& [method, data] : packed) {
    if (method != kZipMethodStored) {  // the writer's version needed, 6.3, is for AES and LZMA
      TMemoryStream bare(testing::MethodItemZip("big.txt", plain, method, data));
      EXPECT_EQ(ExtractAll(bare, "")["big.txt"], plain) << method;
    }
    for (uint16_t version : {kWinZipAesVersion1, kWinZipAesVersion2}) {
      SCOPED_TRACE(std::to_string(method) + " AE-" + std::to_string(version));
      TMemoryStream memory(testing::MethodItemZip(
          "big.txt", plain, kZipMethodWinZipAes, testing::WinZipAesEncrypt(data, "pw", 2),
          testing::WinZipAesExtraField(version, 2, method), 1,
          version == kWinZipAesVersion2 ? std::optional<uint32_t>(0) : std::nullopt));
      EXPECT_EQ(ExtractAll(memory, "pw")["big.txt"], plain);
    }
  }
}

TEST_F(MethodArchives, WrongAesPasswordIsInvalidPasswordAndWritesNothing) {
  const std::vector<uint8_t>& plain = files_["big.txt"];
  testing::WriteHostFile(
      root_ + "/a.zip",
      testing::MethodItemZip("big.txt", plain, kZipMethodWinZipAes,
                             testing::WinZipAesEncrypt(testing::Bzip2Compress(plain), "right", 3),
                             testing::WinZipAesExtraField(kWinZipAesVersion2, 3, kZipMethodBzip2),
                             1, 0));
  TAbZipArchive archive(WindowsPath(root_ + "/a.zip"), fmOpenRead | fmShareDenyNone);
  archive.Load();
  archive.SetBaseDirectory(WindowsPath(root_ + "/out"));
  archive.Password = "wrong";
  int asked = 0;
  archive.OnNeedPassword = [&](void*, std::string& password) {
    password = "still wrong";
    ++asked;
  };
  try {
    UnzipItemToFile(archive, *archive.ZipItems(0), "big.txt");
    FAIL() << "extracted with a wrong password";
  } catch (const EAbZipInvalidPassword& e) {
    EXPECT_EQ(e.ErrorCode, AbInvalidPassword);
  }
  EXPECT_EQ(asked, archive.PasswordRetries);
  EXPECT_TRUE(fs::is_empty(root_ + "/out"));
  EXPECT_TRUE(fs::is_empty(root_ + "/tmp"));
  archive.Password = "right";
  UnzipItemToFile(archive, *archive.ZipItems(0), "big.txt");
  EXPECT_EQ(ReadFile(root_ + "/out/big.txt"), plain);
}

TEST_F(MethodArchives, DamagedAesDataFailsItsAuthenticationCode) {
  const std::vector<uint8_t>& plain = files_["big.txt"];
  std::vector<uint8_t> bytes = testing::MethodItemZip(
      "big.txt", plain, kZipMethodWinZipAes, testing::WinZipAesEncrypt(plain, "pw", 1),
      testing::WinZipAesExtraField(kWinZipAesVersion2, 1, kZipMethodStored), 1, 0);
  bytes[bytes.size() / 2] ^= 0x20;  // a stored byte: no decoder notices, the code does
  TMemoryStream memory(bytes);
  try {
    ExtractAll(memory, "pw");
    FAIL() << "damaged data passed";
  } catch (const EAbZipException& e) {
    EXPECT_EQ(e.ErrorCode, AbZipBadCRC);
    EXPECT_NE(e.Message().find("authentication code does not match"), std::string::npos);
  }
}

TEST_F(MethodArchives, PpmdItemsAreUnsupportedWithoutAPasswordQuestion) {
  const std::vector<uint8_t>& plain = files_["small.txt"];
  TMemoryStream memory(testing::MethodItemZip(
      "small.txt", plain, kZipMethodWinZipAes, testing::WinZipAesEncrypt(plain, "pw", 3),
      testing::WinZipAesExtraField(kWinZipAesVersion2, 3, kZipMethodPpmd), 1, 0));
  TAbZipArchive archive(&memory, "a.zip");
  archive.Load();
  bool asked = false;
  archive.OnNeedPassword = [&](void*, std::string&) { asked = true; };
  TMemoryStream out;
  EXPECT_THROW(UnzipItemToStream(archive, *archive.ZipItems(0), &out), EAbZipInvalidMethod);
  EXPECT_FALSE(asked);
}

}  // namespace
}  // namespace velmora
