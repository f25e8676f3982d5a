#include "archive/crypt/decrypt_stream.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>

#include "rtl/exceptions.h"
#include "rtl/stream.h"
#include "tests/archive/crypt/zip_fixture.h"

namespace velmora {
namespace {

using crypt_test::EncryptedItem;
using crypt_test::MakeEncryptedItem;
using crypt_test::MakeStreamedItem;
using crypt_test::TempFolder;

const std::string kContent =
    "The quick brown fox jumps over the lazy dog. 0123456789 The quick brown fox again.\n";

std::vector<uint8_t> RawInflate(const std::vector<uint8_t>& packed, size_t expected) {
  std::vector<uint8_t> out(expected + 16);
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
  z.next_in = const_cast<uint8_t*>(packed.data());
  z.avail_in = static_cast<uInt>(packed.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  inflateEnd(&z);
  return out;
}

// The archive in a memory stream standing at the item's encryption header.
TMemoryStream ArchiveAtHeader(const EncryptedItem& item) {
  TMemoryStream source(item.archive);
  source.SetPosition(static_cast<int64_t>(item.data_offset));
  return source;
}

TEST(DecryptStream, RightPasswordYieldsStoredContentAndStandsAtData) {
  TempFolder folder;
  EncryptedItem item = MakeEncryptedItem(folder, kContent, "s3cret", "-0");
  ASSERT_EQ(item.flags & 1, 1);
  TMemoryStream source = ArchiveAtHeader(item);
  TAbDfDecryptStream stream(&source, "s3cret", item.CheckValue());
  ASSERT_TRUE(stream.VerifyHeader());
  EXPECT_EQ(source.Position(), static_cast<int64_t>(item.data_offset) + 12);
  std::string plain(kContent.size(), '\0');
  EXPECT_EQ(stream.Read(plain.data(), static_cast<int32_t>(plain.size())),
            static_cast<int32_t>(plain.size()));
  EXPECT_EQ(plain, kContent);
}

TEST(DecryptStream, WrongPasswordFailsAndRewindsSoAnotherPasswordCanTry) {
  TempFolder folder;
  EncryptedItem item = MakeEncryptedItem(folder, kContent, "s3cret", "-0");
  TMemoryStream source = ArchiveAtHeader(item);
  // One wrong password in 256 passes the one-byte check; pick one that fails.
  std::string wrong;
  for (int i = 0; i < 1000; ++i) {
    TMemoryStream probe = ArchiveAtHeader(item);
    TAbDfDecryptStream s(&probe, "wrong" + std::to_string(i), item.CheckValue());
    if (!s.VerifyHeader()) {
      wrong = "wrong" + std::to_string(i);
      break;
    }
  }
  ASSERT_FALSE(wrong.empty());
  TAbDfDecryptStream bad(&source, wrong, item.CheckValue());
  EXPECT_FALSE(bad.VerifyHeader());
  EXPECT_EQ(source.Position(), static_cast<int64_t>(item.data_offset));
  TAbDfDecryptStream good(&source, "s3cret", item.CheckValue());
  EXPECT_TRUE(good.VerifyHeader());
}

TEST(DecryptStream, DeflatedItemDecryptsToTheStreamZlibInflates) {
  TempFolder folder;
  std::string content;
  for (int i = 0; i < 200; ++i) content += kContent;
  EncryptedItem item = MakeEncryptedItem(folder, content, "pw", "-9");
  ASSERT_EQ(item.method, 8);
  uint32_t packed_size = crypt_test::Le(item.archive, 18, 4) - 12;
  TMemoryStream source = ArchiveAtHeader(item);
  TAbDfDecryptStream stream(&source, "pw", item.CheckValue());
  ASSERT_TRUE(stream.VerifyHeader());
  std::vector<uint8_t> packed(packed_size);
  stream.ReadBuffer(packed.data(), static_cast<int32_t>(packed.size()));
  std::vector<uint8_t> plain = RawInflate(packed, content.size());
  EXPECT_EQ(std::string(plain.begin(), plain.end()), content);
}

TEST(DecryptStream, Bit3ItemChecksTheHighByteOfTheDosTime) {
  TempFolder folder;
  EncryptedItem item = MakeStreamedItem(folder, kContent, "pw");
  ASSERT_EQ(item.flags & 0x0009, 0x0009) << "zip should set bits 0 and 3 when streaming";
  TMemoryStream source = ArchiveAtHeader(item);
  TAbDfDecryptStream stream(&source, "pw", static_cast<uint32_t>(item.dos_time) << 16);
  ASSERT_TRUE(stream.VerifyHeader());
  std::string plain(kContent.size(), '\0');
  stream.ReadBuffer(plain.data(), static_cast<int32_t>(plain.size()));
  EXPECT_EQ(plain, kContent);
  // The real CRC, which the local header of such an item lacks, must not be
  // what the check compares: any value whose top byte differs fails.
  TMemoryStream again = ArchiveAtHeader(item);
  uint32_t other = (static_cast<uint32_t>(item.dos_time >> 8) ^ 0x5A) << 24;
  TAbDfDecryptStream wrong_check(&again, "pw", other);
  EXPECT_FALSE(wrong_check.VerifyHeader());
}

TEST(DecryptStream, ReadsSplitAnyWayGiveTheSameBytes) {
  TempFolder folder;
  std::string content;
  for (int i = 0; i < 40; ++i) content += kContent;
  EncryptedItem item = MakeEncryptedItem(folder, content, "pw", "-0");
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    TMemoryStream source = ArchiveAtHeader(item);
    TAbDfDecryptStream stream(&source, "pw", item.CheckValue());
    ASSERT_TRUE(stream.VerifyHeader());
    std::string plain;
    while (plain.size() < content.size()) {
      int32_t want = static_cast<int32_t>(
          std::min<size_t>(1 + rng() % 97, content.size() - plain.size()));
      std::string part(static_cast<size_t>(want), '\0');
      ASSERT_EQ(stream.Read(part.data(), want), want);
      plain += part;
    }
    EXPECT_EQ(plain, content) << "round " << round;
  }
}

TEST(DecryptStream, ShortHeaderIsAStreamReadError) {
  TMemoryStream source(std::vector<uint8_t>(11, 0));
  TAbDfDecryptStream stream(&source, "pw", 0);
  try {
    stream.VerifyHeader();
    FAIL() << "no exception";
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Stream read error");
  }
}

TEST(DecryptStream, SeekPassesToTheSource) {
  TMemoryStream source(std::vector<uint8_t>(100, 0));
  TAbDfDecryptStream stream(&source, "pw", 0);
  EXPECT_EQ(stream.Seek(40, soFromBeginning), 40);
  EXPECT_EQ(source.Position(), 40);
}

void ExpectAssertion(const std::function<void()>& action, const std::string& message) {
  try {
    action();
    ADD_FAILURE() << "no assertion: " << message;
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message().rfind(message + " (", 0), 0u) << e.Message();
  }
}

TEST(DecryptStream, MisuseFailsItsAssertions) {
  TMemoryStream source(std::vector<uint8_t>(100, 0));
  TAbDfDecryptStream stream(&source, "pw", 0);
  uint8_t buffer[4] = {};
  ExpectAssertion([&] { stream.Read(buffer, 4); },
                  "TAbDfDecryptStream.Read: the stream header has not been verified");
  ExpectAssertion([&] { stream.Write(buffer, 4); },
                  "TAbDfDecryptStream.Write: the stream is read-only");
  TAbZipDecryptEngine engine;
  ExpectAssertion([&] { engine.Decode(buffer, 4); },
                  "TAbZipDecryptEngine.Decode: must successfully call VerifyHeader first");
  ExpectAssertion([&] { engine.VerifyHeader(buffer, "", 0); },
                  "TAbZipDecryptEngine.VerifyHeader: need a passphrase");
}

TEST(DecryptEngine, LeavesTheHeaderUnchangedAndBecomesReadyOnlyOnSuccess) {
  TempFolder folder;
  EncryptedItem item = MakeEncryptedItem(folder, kContent, "pw", "-0");
  std::vector<uint8_t> header(item.archive.begin() + static_cast<long>(item.data_offset),
                              item.archive.begin() + static_cast<long>(item.data_offset) + 12);
  const std::vector<uint8_t> before = header;
  TAbZipDecryptEngine engine;
  EXPECT_FALSE(engine.Ready());
  EXPECT_TRUE(engine.VerifyHeader(header.data(), "pw", item.CheckValue()));
  EXPECT_EQ(header, before);
  EXPECT_TRUE(engine.Ready());
  EXPECT_FALSE(engine.VerifyHeader(header.data(), "pw", item.CheckValue() ^ 0x01000000u));
  EXPECT_FALSE(engine.Ready());
}

}  // namespace
}  // namespace velmora
