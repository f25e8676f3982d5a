#include "archive/crypt/zdecoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/base/exceptions.h"
#include "rtl/stream.h"
#include "tests/support/method_encoders.h"

namespace velmora {
namespace {

// A header whose last two bytes carry the top two bytes of check, then data.
std::vector<uint8_t> MakeItem(const std::string& password, uint32_t check,
                              const std::string& data) {
  std::vector<uint8_t> plain = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10,
                                static_cast<uint8_t>(check >> 16),
                                static_cast<uint8_t>(check >> 24)};
  plain.insert(plain.end(), data.begin(), data.end());
  return testing::TraditionalEncrypt(plain, password);
}

// Counts the reads that reach the memory stream below it.
class CountingStream : public TMemoryStream {
 public:
  using TMemoryStream::TMemoryStream;
  int32_t Read(void* buffer, int32_t count) override {
    ++reads;
    return TMemoryStream::Read(buffer, count);
  }
  int reads = 0;
};

constexpr uint32_t kCheck = 0xA1B2C3D4u;
const std::string kData = "legacy decoder input bytes";

std::string DecodeRest(TAbZDecoder& decoder, TStream& source) {
  std::string out(kData.size(), '\0');
  source.ReadBuffer(out.data(), static_cast<int32_t>(out.size()));
  decoder.DecodeBuffer(out.data(), static_cast<int32_t>(out.size()));
  return out;
}

void ExpectInvalidPassword(TAbZDecoder& decoder) {
  try {
    decoder.CheckHeader();
    FAIL() << "no exception";
  } catch (const EAbZipInvalidPassword& e) {
    EXPECT_EQ(e.Message(), "Cannot extract file - invalid password");
    EXPECT_EQ(e.ErrorCode, 4);
  }
}

TEST(ZDecoder, RightPasswordLeavesSourceBehindHeaderWithKeysReady) {
  std::vector<uint8_t> prefix(5, 0xEE), item = MakeItem("pw", kCheck, kData);
  prefix.insert(prefix.end(), item.begin(), item.end());
  TMemoryStream source(prefix);
  source.SetPosition(5);
  TAbZDecoder decoder("pw", true, kCheck, &source);
  EXPECT_EQ(decoder.Attempts, 3);
  EXPECT_TRUE(decoder.CheckHeader());
  EXPECT_EQ(source.Position(), 17);
  EXPECT_EQ(DecodeRest(decoder, source), kData);
}

TEST(ZDecoder, ZeroAttemptsFailsWithoutReading) {
  CountingStream source(MakeItem("pw", kCheck, kData));
  TAbZDecoder decoder("pw", true, kCheck, &source);
  decoder.Attempts = 0;
  bool asked = false;
  decoder.OnNeedPassword = [&](void*, std::string&) { asked = true; };
  ExpectInvalidPassword(decoder);
  EXPECT_EQ(source.reads, 0);
  EXPECT_FALSE(asked);
}

TEST(ZDecoder, WrongPasswordWithoutHookFailsAfterOneCheck) {
  CountingStream source(MakeItem("pw", kCheck, kData));
  // "wrong" happens to fail the one-byte check for this header.
  TAbZDecoder decoder("wrong", true, kCheck, &source);
  ExpectInvalidPassword(decoder);
  EXPECT_EQ(source.reads, 1);
}

TEST(ZDecoder, HookAnswerIsTriedOnTheNextAttempt) {
  TMemoryStream source(MakeItem("pw", kCheck, kData));
  TAbZDecoder decoder("wrong", true, kCheck, &source);
  void* sender = nullptr;
  std::string offered;
  decoder.OnNeedPassword = [&](void* s, std::string& password) {
    sender = s;
    offered = password;
    password = "pw";
  };
  EXPECT_TRUE(decoder.CheckHeader());
  EXPECT_EQ(sender, &decoder);
  EXPECT_EQ(offered, "wrong");
  EXPECT_EQ(decoder.Password(), "pw");
  EXPECT_EQ(DecodeRest(decoder, source), kData);
}

TEST(ZDecoder, AsksAfterEveryFailedAttemptAndDoesNotTryTheLastAnswer) {
  CountingStream source(MakeItem("pw", kCheck, kData));
  TAbZDecoder decoder("wrong", true, kCheck, &source);
  decoder.Attempts = 2;
  int asked = 0;
  decoder.OnNeedPassword = [&](void*, std::string& password) {
    ++asked;
    password = asked == 2 ? "pw" : "wrong";
  };
  ExpectInvalidPassword(decoder);
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(source.reads, 2);
}

TEST(ZDecoder, TwoByteCheckAlsoComparesTheSecondHighestByte) {
  std::vector<uint8_t> item = MakeItem("pw", kCheck, kData);
  TMemoryStream source(item);
  TAbZDecoder two_bytes("pw", false, kCheck, &source);
  EXPECT_TRUE(two_bytes.CheckHeader());

  TMemoryStream again(item);
  uint32_t same_top_byte = (kCheck & 0xFF000000u) | 0x00112233u;
  TAbZDecoder one_byte("pw", true, same_top_byte, &again);
  EXPECT_TRUE(one_byte.CheckHeader());
  again.SetPosition(0);
  TAbZDecoder strict("pw", false, same_top_byte, &again);
  ExpectInvalidPassword(strict);
}

TEST(ZDecoder, DecodingSplitAcrossCallsMatchesOneCall) {
  std::string data(1000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + 3);
  std::vector<uint8_t> item = MakeItem("pw", kCheck, data);
  for (int split : {1, 2, 3, 13, 999}) {
    TMemoryStream source(item);
    TAbZDecoder decoder("pw", true, kCheck, &source);
    ASSERT_TRUE(decoder.CheckHeader());
    std::string out(data.size(), '\0');
    source.ReadBuffer(out.data(), static_cast<int32_t>(out.size()));
    decoder.DecodeBuffer(out.data(), split);
    decoder.DecodeBuffer(out.data() + split, static_cast<int32_t>(out.size()) - split);
    EXPECT_EQ(out, data) << "split at " << split;
  }
}

}  // namespace
}  // namespace velmora
