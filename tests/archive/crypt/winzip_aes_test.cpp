// The WinZip AES stream against an independent encryptor (the test
// encoder: one block at a time through libcrypto): every key strength
// decrypts, the verifier tells a wrong password, the authentication code
// covers every encrypted byte once however the data is read, and the
// extra field is found among others.
#include "archive/crypt/winzip_aes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/method_encoders.h"

namespace velmora {
namespace {

std::vector<uint8_t> Sample(size_t size) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  return data;
}

// The encrypted item behind 4 other bytes, followed by 3 more.
TMemoryStream Archive(const std::vector<uint8_t>& item) {
  std::vector<uint8_t> bytes = {1, 2, 3, 4};
  bytes.insert(bytes.end(), item.begin(), item.end());
  bytes.insert(bytes.end(), {9, 9, 9});
  TMemoryStream stream(bytes);
  stream.Seek(4, soFromBeginning);
  return stream;
}

std::vector<uint8_t> ReadAll(TStream& stream, int32_t step) {
  std::vector<uint8_t> out;
  std::vector<uint8_t> buffer(static_cast<size_t>(step));
  for (int32_t n; (n = stream.Read(buffer.data(), step)) > 0;) {
    out.insert(out.end(), buffer.begin(), buffer.begin() + n);
  }
  return out;
}

TEST(WinZipAes, EveryStrengthDecryptsAndAuthenticates) {
  const std::vector<uint8_t> plain = Sample(70000);  // more than one keystream batch
  for (uint8_t strength : {1, 2, 3}) {
    SCOPED_TRACE(static_cast<int>(strength));
    const std::vector<uint8_t> item = testing::WinZipAesEncrypt(plain, "pässword", strength);
    TMemoryStream source = Archive(item);
    TAbWinZipAesStream aes(&source, static_cast<int64_t>(item.size()), strength);
    ASSERT_TRUE(aes.Open("pässword"));
    EXPECT_EQ(aes.DataSize(), static_cast<int64_t>(plain.size()));
    EXPECT_EQ(ReadAll(aes, 1000), plain);  // reads that cut AES blocks
    EXPECT_TRUE(aes.VerifyAuthentication());
    EXPECT_EQ(source.Position(), 4 + static_cast<int64_t>(item.size()));  // not one byte more
  }
}

TEST(WinZipAes, WrongPasswordFailsTheVerifierAndTheRightOneStillOpens) {
  const std::vector<uint8_t> plain = Sample(100);
  const std::vector<uint8_t> item = testing::WinZipAesEncrypt(plain, "right", 3);
  TMemoryStream source = Archive(item);
  TAbWinZipAesStream aes(&source, static_cast<int64_t>(item.size()), 3);
  EXPECT_FALSE(aes.Open("wrong"));
  EXPECT_FALSE(aes.Open(""));
  ASSERT_TRUE(aes.Open("right"));
  EXPECT_EQ(ReadAll(aes, 64), plain);
  EXPECT_TRUE(aes.VerifyAuthentication());
}

TEST(WinZipAes, ReadingAgainAfterMovingBackDecryptsAndAuthenticatesOnce) {
  // Inflate gives back what it read ahead by moving the stream back.
  const std::vector<uint8_t> plain = Sample(5000);
  const std::vector<uint8_t> item = testing::WinZipAesEncrypt(plain, "pw", 1);
  TMemoryStream source = Archive(item);
  TAbWinZipAesStream aes(&source, static_cast<int64_t>(item.size()), 1);
  ASSERT_TRUE(aes.Open("pw"));
  std::vector<uint8_t> first(3000);
  ASSERT_EQ(aes.Read(first.data(), 3000), 3000);
  aes.Seek(1234, soFromBeginning);
  std::vector<uint8_t> again = ReadAll(aes, 333);
  EXPECT_EQ(again, std::vector<uint8_t>(plain.begin() + 1234, plain.end()));
  EXPECT_TRUE(aes.VerifyAuthentication());
}

TEST(WinZipAes, AuthenticationCoversDataNeverReadAndTheStoredCode) {
  for (size_t damaged_from_end : {100, 1}) {  // an encrypted byte; the code
    std::vector<uint8_t> item = testing::WinZipAesEncrypt(Sample(4000), "pw", 2);
    item[item.size() - damaged_from_end] ^= 1;
    TMemoryStream source = Archive(item);
    TAbWinZipAesStream aes(&source, static_cast<int64_t>(item.size()), 2);
    ASSERT_TRUE(aes.Open("pw"));
    std::vector<uint8_t> head(10);
    aes.Read(head.data(), 10);  // a decoder that stopped early
    EXPECT_FALSE(aes.VerifyAuthentication()) << damaged_from_end;
  }
}

TEST(WinZipAes, ItemsTooShortOrOfUnknownStrengthAreRefused) {
  TMemoryStream source = Archive(std::vector<uint8_t>(40));
  try {
    TAbWinZipAesStream aes(&source, 27, 3);  // 16 salt + 2 + 10 = 28
    FAIL() << "accepted";
  } catch (const EAbWinZipAesError& e) {
    EXPECT_EQ(e.Message(),
              "Cannot extract file - WinZip AES item of 27 bytes is shorter than its salt, "
              "verifier and code (28 bytes)");
  }
  EXPECT_THROW(TAbWinZipAesStream(&source, 40, 4), EAbWinZipAesError);
  // Declared longer than the archive holds: the data runs out.
  const std::vector<uint8_t> item = testing::WinZipAesEncrypt(Sample(100), "pw", 1);
  TMemoryStream cut = Archive(item);
  TAbWinZipAesStream aes(&cut, static_cast<int64_t>(item.size()) + 100, 1);
  ASSERT_TRUE(aes.Open("pw"));
  EXPECT_THROW(ReadAll(aes, 64), EAbWinZipAesError);
}

TEST(WinZipAes, FieldIsFoundAmongOthersAndRefusedWhenCutShort) {
  const std::string aes = testing::WinZipAesExtraField(2, 3, 14);
  const std::string other("\x0a\x00\x04\x00\x01\x02\x03\x04", 8);
  TAbWinZipAesField field;
  ASSERT_TRUE(FindWinZipAesField(other + aes, field));
  EXPECT_EQ(field.Version, 2);
  EXPECT_EQ(field.Strength, 3);
  EXPECT_EQ(field.Method, 14);
  EXPECT_FALSE(FindWinZipAesField(other, field));
  EXPECT_FALSE(FindWinZipAesField(other + aes.substr(0, aes.size() - 1), field));
}

}  // namespace
}  // namespace velmora
