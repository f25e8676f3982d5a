// Encrypted items of every legacy method: the traditional ZIP stream cipher
// applied by a tiny encoder here, checked by TAbZDecoder before the method
// and then undone block by block as the input is read.
#include <gtest/gtest.h>

#include "archive/crypt/zip_crypt_keys.h"
#include "legacy_test_util.h"
#include "tests/support/implode_encoder.h"
#include "tests/support/reduce_encoder.h"
#include "tests/support/shrink_encoder.h"

namespace velmora {
namespace {

// The 12-byte header (its last byte the check value's top byte) and the
// data, encrypted with `password` as APPNOTE describes.
std::vector<uint8_t> Encrypt(const std::string& password, uint32_t check_value,
                             const std::vector<uint8_t>& data) {
  std::vector<uint8_t> plain = {3, 1, 4, 1, 5, 9, 2, 6, 5, 3, 5,
                                static_cast<uint8_t>(check_value >> 24)};
  plain.insert(plain.end(), data.begin(), data.end());
  ZipCryptKeys keys;
  keys.Reset(password);
  for (uint8_t& b : plain) {
    const uint8_t p = b;
    b = p ^ keys.StreamByte();
    keys.Update(p);
  }
  return plain;
}

struct EncryptedCase {
  const char* name;
  legacy_test::ExpandSettings settings;
  std::vector<uint8_t> packed;
};

std::vector<EncryptedCase> Cases(const std::vector<uint8_t>& data) {
  const int32_t size = static_cast<int32_t>(data.size());
  std::vector<EncryptedCase> cases = {
      {"shrink", legacy_test::ShrinkSettings(size), testing::EncodeShrink(data)},
      {"implode", legacy_test::ImplodeSettings(false, true, size),
       testing::EncodeImplode(data, {false, true})}};
  for (int factor = 1; factor <= 4; ++factor) {
    cases.push_back({"reduce", legacy_test::ReduceSettings(factor, size),
                     testing::EncodeReduce(data, factor)});
  }
  return cases;
}

legacy_test::Expansion ExpandEncrypted(const EncryptedCase& c, const std::string& password,
                                       uint32_t crc, const TAbNeedPasswordEvent& hook = {}) {
  TMemoryStream archive(Encrypt("Sesame", crc, c.packed));
  TAbZDecoder decoder(password, true, crc, &archive);
  decoder.OnNeedPassword = hook;
  return legacy_test::ExpandBytes({}, c.settings, &decoder, &archive);
}

TEST(LegacyEncryption, EveryMethodExpandsWithTheRightPassword) {
  const auto data = legacy_test::SampleText(50000, 11);
  const uint32_t crc = legacy_test::CrcOf(data);
  for (const EncryptedCase& c : Cases(data)) {
    const auto e = ExpandEncrypted(c, "Sesame", crc);
    EXPECT_TRUE(e.output == data) << c.name << " method " << int{c.settings.method};
    EXPECT_EQ(e.crc, crc);
  }
}

TEST(LegacyEncryption, EveryMethodRefusesAWrongPassword) {
  const auto data = legacy_test::SampleText(2000, 12);
  const uint32_t crc = legacy_test::CrcOf(data);
  for (const EncryptedCase& c : Cases(data)) {
    try {
      ExpandEncrypted(c, "sesame", crc);
      ADD_FAILURE() << c.name << " accepted a wrong password";
    } catch (const EAbZipInvalidPassword& e) {
      EXPECT_EQ(e.Message(), "Cannot extract file - invalid password");
    }
  }
}

TEST(LegacyEncryption, APasswordGivenByTheHookAfterAFailedCheckIsUsed) {
  const auto data = legacy_test::SampleBinary(20000);
  const uint32_t crc = legacy_test::CrcOf(data);
  const EncryptedCase c = Cases(data)[1];
  const auto e = ExpandEncrypted(c, "wrong", crc,
                                 [](void*, std::string& password) { password = "Sesame"; });
  EXPECT_TRUE(e.output == data);
}

TEST(LegacyEncryption, PasswordIsCheckedBeforeTheMethod) {
  const auto data = legacy_test::SampleText(100);
  const uint32_t crc = legacy_test::CrcOf(data);
  EncryptedCase c{"tokenize", legacy_test::ShrinkSettings(100), testing::EncodeShrink(data)};
  c.settings.method = 7;
  EXPECT_THROW(ExpandEncrypted(c, "nope", crc), EAbZipInvalidPassword);
  EXPECT_THROW(ExpandEncrypted(c, "Sesame", crc), EAbZipInvalidMethod);
}

}  // namespace
}  // namespace velmora
