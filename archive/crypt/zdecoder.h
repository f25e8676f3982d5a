// The self-contained decryptor of the legacy decompressors (shrink, reduce,
// implode): it checks the encryption header itself, asks for another
// password when the check fails, and decrypts the blocks those decoders
// read.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "archive/crypt/zip_crypt_keys.h"
#include "rtl/stream.h"

namespace velmora {

// (Sender, var NewPassword): the handler may replace the password.
using TAbNeedPasswordEvent = std::function<void(void* sender, std::string& new_password)>;

class TAbZDecoder {
 public:
  // source is not owned and must stand at the encryption header.
  TAbZDecoder(std::string password, bool check_one_byte, uint32_t check_value, TStream* source);
  virtual ~TAbZDecoder() = default;

  // Makes up to Attempts checks of the header, asking for a password after
  // every failed one; raises EAbZipInvalidPassword when none succeeds (at
  // once with Attempts 0). On success the source stands behind the header
  // and the keys are ready for the data.
  bool CheckHeader();
  // Decrypts count bytes in place, in stream order.
  void DecodeBuffer(void* buffer, int32_t count);

  const std::string& Password() const { return password_; }
  void SetPassword(std::string password) { password_ = std::move(password); }

  uint8_t Attempts = 3;
  TAbNeedPasswordEvent OnNeedPassword;

 protected:
  // The password question: the hook when assigned, otherwise
  // EAbZipInvalidPassword.
  virtual void DoNeedPassword(std::string& new_password);

 private:
  ZipCryptKeys keys_;
  uint8_t header_[kZipCryptHeaderSize] = {};
  uint32_t check_value_;
  bool check_one_byte_;
  std::string password_;
  TStream* source_;
};

}  // namespace velmora
