#include "archive/crypt/decrypt_stream.h"

#include <cstring>

#include "rtl/exceptions.h"

namespace velmora {

namespace {
constexpr const char* kUnit = "decrypt_stream";
}

bool TAbZipDecryptEngine::VerifyHeader(const uint8_t* header, const std::string& passphrase,
                                       uint32_t check_value) {
  VELMORA_ASSERT(!passphrase.empty(), "TAbZipDecryptEngine.VerifyHeader: need a passphrase",
                 kUnit);
  uint8_t copy[kZipCryptHeaderSize];
  std::memcpy(copy, header, sizeof copy);
  keys_.Reset(passphrase);
  keys_.Decrypt(copy, sizeof copy);
  // Traditional encryption checks one byte only: a wrong password passes
  // once in 256 times and the CRC comparison catches it later.
  ready_ = copy[kZipCryptHeaderSize - 1] == static_cast<uint8_t>(check_value >> 24);
  return ready_;
}

void TAbZipDecryptEngine::Decode(void* buffer, int32_t count) {
  VELMORA_ASSERT(ready_, "TAbZipDecryptEngine.Decode: must successfully call VerifyHeader first",
                 kUnit);
  if (count > 0) keys_.Decrypt(static_cast<uint8_t*>(buffer), count);
}

TAbDfDecryptStream::TAbDfDecryptStream(TStream* source, std::string passphrase,
                                       uint32_t check_value)
    : check_value_(check_value),
      engine_(std::make_unique<TAbZipDecryptEngine>()),
      passphrase_(std::move(passphrase)),
      source_(source) {}

bool TAbDfDecryptStream::VerifyHeader() {
  uint8_t header[kZipCryptHeaderSize];
  source_->ReadBuffer(header, sizeof header);
  ready_ = engine_->VerifyHeader(header, passphrase_, check_value_);
  if (!ready_) source_->Seek(-kZipCryptHeaderSize, soFromCurrent);
  return ready_;
}

int32_t TAbDfDecryptStream::Read(void* buffer, int32_t count) {
  VELMORA_ASSERT(ready_, "TAbDfDecryptStream.Read: the stream header has not been verified",
                 kUnit);
  int32_t got = source_->Read(buffer, count);
  if (got > 0) engine_->Decode(buffer, got);
  return got;
}

int32_t TAbDfDecryptStream::Write(const void*, int32_t) {
  VELMORA_ASSERT(false, "TAbDfDecryptStream.Write: the stream is read-only", kUnit);
  return 0;
}

int64_t TAbDfDecryptStream::Seek(int64_t offset, uint16_t origin) {
  return source_->Seek(offset, origin);
}

}  // namespace velmora
