// Inflate on streams made by other programs (7-Zip's Deflate64, archives
// from other projects' test suites), through an encryption header, into a
// file stream, and with a log file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "archive/inflate/inflate.h"
#include "tests/support/deflate_bit_writer.h"
#include "tests/support/method_encoders.h"
#include "tests/support/process_runner.h"
#include "tests/support/scratch_folder.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

uint32_t Le(const std::vector<uint8_t>& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | b.at(at + static_cast<size_t>(i));
  return v;
}

std::vector<uint8_t> ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The first item of a ZIP archive, from its local header.
struct LocalItem {
  uint16_t flags, method;
  uint32_t crc, packed, unpacked;
  std::vector<uint8_t> data;  // the compressed bytes and everything after them
};

LocalItem FirstItem(const std::vector<uint8_t>& zip) {
  LocalItem item{};
  EXPECT_EQ(Le(zip, 0, 4), 0x04034B50u);
  item.flags = static_cast<uint16_t>(Le(zip, 6, 2));
  item.method = static_cast<uint16_t>(Le(zip, 8, 2));
  item.crc = Le(zip, 14, 4);
  item.packed = Le(zip, 18, 4);
  item.unpacked = Le(zip, 22, 4);
  size_t start = 30 + Le(zip, 26, 2) + Le(zip, 28, 2);
  item.data.assign(zip.begin() + static_cast<long>(start), zip.end());
  return item;
}

void ExpectItemDecodes(const LocalItem& item, const std::string& what) {
  TMemoryStream source(item.data), dest;
  TAbDeflateHelper helper;
  helper.Options |= dfoDeflate64;
  EXPECT_EQ(Inflate(&source, &dest, &helper), item.crc) << what;
  EXPECT_EQ(dest.Data().size(), item.unpacked) << what;
  EXPECT_EQ(helper.PackedSize, static_cast<int32_t>(item.packed)) << what;
}

TEST(InflateArchives, Deflate64From7ZipWithLongMatchesAndFarDistances) {
  testing::ScratchFolder dir("inflate-test");
  // 50,000 random bytes twice (distance 50,000, beyond Deflate's 32 KiB),
  // then 400,000 zeros (matches of 65,538) and the random block again.
  std::mt19937 rng(11);
  std::vector<uint8_t> block(50000);
  for (auto& b : block) b = static_cast<uint8_t>(rng());
  std::vector<uint8_t> data = block;
  data.insert(data.end(), block.begin(), block.end());
  data.resize(data.size() + 400000, 0);
  data.insert(data.end(), block.begin(), block.end());
  std::ofstream(dir.Host("data.bin"), std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  VELMORA_SKIP_WITHOUT("7zz");
  ASSERT_TRUE(testing::RunQuietly("7zz a -tzip -mm=Deflate64 d64.zip data.bin", dir.path()));
  LocalItem item = FirstItem(ReadAll(dir.Host("d64.zip")));
  ASSERT_EQ(item.method, 9);
  ASSERT_EQ(item.flags & 8, 0);
  TMemoryStream source(item.data), dest;
  TAbDeflateHelper helper;
  helper.Options |= dfoDeflate64;
  EXPECT_EQ(Inflate(&source, &dest, &helper), test::ZlibCrc32(data));
  EXPECT_TRUE(dest.Data() == data);
  EXPECT_EQ(helper.PackedSize, static_cast<int32_t>(item.packed));
}

TEST(InflateArchives, Deflate64ItemsOfOtherProjects) {
  const fs::path fixtures = fs::path(VELMORA_SOURCE_DIR) / ".." / "shared" / "fixtures";
  if (!fs::exists(fixtures)) GTEST_SKIP() << "no fixtures folder at " << fixtures;
  int tried = 0;
  for (const char* name : {"commons-compress/lorem-ipsum-deflate64.zip",
                           "commons-compress/COMPRESS-380/COMPRESS-380.zip",
                           "commons-compress/COMPRESS-380/COMPRESS-380-readbeyondmemory.zip"}) {
    if (!fs::exists(fixtures / name)) continue;
    LocalItem item = FirstItem(ReadAll(fixtures / name));
    if (item.method != 9 || (item.flags & 8)) continue;
    ExpectItemDecodes(item, name);
    ++tried;
  }
  if (tried == 0) GTEST_SKIP() << "no Deflate64 fixture found";
}

// An encryption header whose last byte is the check value's top byte, then data.
std::vector<uint8_t> Encrypt(const std::string& password, uint32_t check,
                             const std::vector<uint8_t>& data) {
  std::vector<uint8_t> plain = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0x11,
                                static_cast<uint8_t>(check >> 24)};
  plain.insert(plain.end(), data.begin(), data.end());
  return testing::TraditionalEncrypt(plain, password);
}

TEST(InflateArchives, EncryptedStreamDecodesWithThePassphraseOnly) {
  std::vector<uint8_t> data(70000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>("secret "[i % 7] ^ i / 700);
  std::vector<uint8_t> packed = test::ZlibDeflateRaw(data, 6);
  const uint32_t crc = test::ZlibCrc32(data);
  std::vector<uint8_t> stream = Encrypt("pw", crc, packed);
  stream.insert(stream.begin(), 3, 0xAA);  // the item starts at offset 3

  TMemoryStream source(stream), dest;
  source.SetPosition(3);
  TAbDeflateHelper helper;
  helper.Passphrase = "wrong";  // fails the one-byte check for this header
  helper.PasswordCheckValue = crc;
  try {
    Inflate(&source, &dest, &helper);
    FAIL() << "no password error";
  } catch (const EAbInflatePasswordError& e) {
    EXPECT_EQ(e.Message(), "Inflate: stream is encrypted but passphrase is wrong");
  }
  EXPECT_EQ(source.Position(), 3) << "back at the encryption header";
  helper.Passphrase = "pw";
  EXPECT_EQ(Inflate(&source, &dest, &helper), crc);
  EXPECT_TRUE(dest.Data() == data);
  EXPECT_EQ(helper.PackedSize, static_cast<int32_t>(packed.size() + 12));
}

TEST(InflateArchives, FileStreamsBehaveAsMemoryStreams) {
  testing::ScratchFolder dir("inflate-test");
  std::vector<uint8_t> data(500000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i / 3 % 256 ^ i >> 13);
  std::vector<uint8_t> packed = test::ZlibDeflateRaw(data, 9);
  packed.push_back(0x42);  // one byte after the stream
  const fs::path in_path = dir.Host("in.bin"), out_path = dir.Host("out.bin");
  std::ofstream(in_path, std::ios::binary)
      .write(reinterpret_cast<const char*>(packed.data()), static_cast<std::streamsize>(packed.size()));
  {
    THandleStream source(::open(in_path.c_str(), O_RDONLY));
    THandleStream dest(::open(out_path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600));
    TAbDeflateHelper helper;
    EXPECT_EQ(Inflate(&source, &dest, &helper), test::ZlibCrc32(data));
    EXPECT_EQ(source.Position(), static_cast<int64_t>(packed.size() - 1));
    EXPECT_EQ(helper.UnpackedSize, 500000);
  }
  EXPECT_TRUE(ReadAll(out_path) == data);
}

TEST(InflateArchives, LogFileRecordsTheStartAndTheCause) {
  testing::ScratchFolder dir("inflate-test");
  const fs::path log = dir.Host("inflate.log");
  TMemoryStream source(std::vector<uint8_t>{0x07}), dest;  // block type 3
  TAbDeflateHelper helper;
  helper.LogFileName = log.string();
  EXPECT_THROW(Inflate(&source, &dest, &helper), EAbInflateError);
  std::vector<uint8_t> text = ReadAll(log);
  EXPECT_EQ(std::string(text.begin(), text.end()),
            "INFLATING STREAM...\r\nNeed to recompile the app with UseLogging turned on\r\n"
            "Internal exception raised: starting new block, but invalid block type [Inflate]\r\n");
}

TEST(InflateArchives, LoggerRefusesReadingAndSeeking) {
  testing::ScratchFolder dir("inflate-test");
  TAbLogger logger(dir.Host("x.log"));
  logger.WriteLine("abc");
  EXPECT_EQ(logger.Seek(0, soFromCurrent), 5);
  EXPECT_EQ(logger.Seek(0, soFromEnd), 5);
  uint8_t byte;
  EXPECT_THROW(logger.Read(&byte, 1), EAssertionFailed);
  EXPECT_THROW(logger.Seek(1, soFromBeginning), EAssertionFailed);
}

}  // namespace
}  // namespace velmora
