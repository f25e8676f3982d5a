// Traditional ZIP decryption for extraction: the cipher with its header
// check, and a read-only stream that hands out decrypted bytes of the
// archive stream once the 12-byte encryption header has passed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archive/crypt/zip_crypt_keys.h"
#include "rtl/stream.h"

namespace velmora {

class TAbZipDecryptEngine {
 public:
  TAbZipDecryptEngine() = default;
  virtual ~TAbZipDecryptEngine() = default;

  // Sets up the keys from passphrase, decrypts a copy of the header and
  // compares its last byte with the high byte of check_value (the item's
  // CRC-32, or its DOS time shifted left 16 when bit 3 is set). The header
  // bytes are left unchanged.
  bool VerifyHeader(const uint8_t* header, const std::string& passphrase, uint32_t check_value);
  // Decrypts count bytes in place; only after a successful VerifyHeader.
  void Decode(void* buffer, int32_t count);

  bool Ready() const { return ready_; }

 private:
  bool ready_ = false;
  ZipCryptKeys keys_;
};

class TAbDfDecryptStream : public TStream {
 public:
  // source is not owned.
  TAbDfDecryptStream(TStream* source, std::string passphrase, uint32_t check_value);

  // Reads the 12-byte header from the source and checks it. On failure the
  // source is moved back to the start of the header, so a stream with the
  // next password can check the same bytes.
  bool VerifyHeader();

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  // Passed to the source unchanged; the keys are not touched.
  int64_t Seek(int64_t offset, uint16_t origin) override;

 private:
  uint32_t check_value_;
  std::unique_ptr<TAbZipDecryptEngine> engine_;
  std::string passphrase_;
  bool ready_ = false;
  TStream* source_;
};

}  // namespace velmora
