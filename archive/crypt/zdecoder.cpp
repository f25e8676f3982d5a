#include "archive/crypt/zdecoder.h"

#include "archive/base/exceptions.h"

namespace velmora {

TAbZDecoder::TAbZDecoder(std::string password, bool check_one_byte, uint32_t check_value,
                         TStream* source)
    : check_value_(check_value),
      check_one_byte_(check_one_byte),
      password_(std::move(password)),
      source_(source) {}

void TAbZDecoder::DoNeedPassword(std::string& new_password) {
  if (!OnNeedPassword) throw EAbZipInvalidPassword();
  OnNeedPassword(this, new_password);
}

bool TAbZDecoder::CheckHeader() {
  const int64_t header_start = source_->Position();
  bool passed = false;
  for (int attempt = 0; !passed && attempt < Attempts; ++attempt) {
    keys_.Reset(password_);
    source_->Seek(header_start, soFromBeginning);
    // A short read leaves stale bytes that simply fail the check.
    source_->Read(header_, kZipCryptHeaderSize);
    keys_.Decrypt(header_, kZipCryptHeaderSize);
    passed = header_[11] == static_cast<uint8_t>(check_value_ >> 24) &&
             (check_one_byte_ || header_[10] == static_cast<uint8_t>(check_value_ >> 16));
    // The answer after the last failed attempt is asked for but not tried.
    if (!passed) DoNeedPassword(password_);
  }
  if (!passed) throw EAbZipInvalidPassword();
  return true;
}

void TAbZDecoder::DecodeBuffer(void* buffer, int32_t count) {
  if (count > 0) keys_.Decrypt(static_cast<uint8_t*>(buffer), count);
}

}  // namespace velmora
