// WinZip AES encryption (AE-1 and AE-2) for extraction, as WinZip defines
// it: an item of method 99 carries a 0x9901 extra field naming the key
// strength and the real method; its data is a salt, a 2-byte password
// verifier, the encrypted data and a 10-byte authentication code. Keys come
// from PBKDF2-HMAC-SHA1 over the password and the salt (1,000 rounds), the
// data is AES in counter mode with a little-endian counter starting at 1,
// and the code is the first 10 bytes of HMAC-SHA1 over the encrypted data.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/base/exceptions.h"
#include "rtl/stream.h"

namespace velmora {

// An AES item that cannot be read: its header is cut short, its key
// strength unknown, or the cryptography library failed.
constexpr int32_t AbWinZipAesError = 121;
class EAbWinZipAesError : public EAbZipException {
 public:
  explicit EAbWinZipAesError(const std::string& detail)
      : EAbZipException("Cannot extract file - " + detail, AbWinZipAesError) {}
};

constexpr uint16_t kWinZipAesExtraId = 0x9901;
constexpr size_t kWinZipAesVerifierSize = 2;
constexpr size_t kWinZipAesCodeSize = 10;
// AE-1 keeps the CRC-32 of the data; AE-2 stores 0 there and relies on the
// authentication code alone.
constexpr uint16_t kWinZipAesVersion1 = 1;
constexpr uint16_t kWinZipAesVersion2 = 2;

struct TAbWinZipAesField {
  uint16_t Version = 0;  // AE-1 or AE-2
  uint8_t Strength = 0;  // 1, 2, 3: 128-, 192- and 256-bit keys
  uint16_t Method = 0;   // the compression method of the data
};

// Finds the 0x9901 field in a block of extra fields; false when there is
// none or it is cut short.
bool FindWinZipAesField(const std::string& extra, TAbWinZipAesField& field);

// Key length in bytes for a strength, 0 for an unknown strength. The salt
// is half as long.
size_t WinZipAesKeySize(uint8_t strength);

// A read-only stream of the decrypted data of one item. It stands over the
// archive stream, whose position is the start of the item's packed data
// (the salt), and reads no more than packed_size bytes of it. Positions
// count from the first data byte; it can be moved back and read again (a
// decoder that read ahead gives bytes back), and the authentication code
// still sees every encrypted byte once.
class TAbWinZipAesStream : public TStream {
 public:
  // Raises EAbWinZipAesError when the strength is unknown or packed_size
  // cannot hold the salt, verifier and code.
  TAbWinZipAesStream(TStream* source, int64_t packed_size, uint8_t strength);
  ~TAbWinZipAesStream() override;

  // Derives the keys from password and compares the verifier; false when
  // it differs (the password is wrong). May be called again with another.
  bool Open(const std::string& password);

  // The encrypted data's size: the packed size less salt, verifier and code.
  int64_t DataSize() const { return data_size_; }

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, uint16_t origin) override;
  int64_t Size() override { return data_size_; }

  // Reads the data not read yet, then the stored code, and compares it with
  // the code of the encrypted data; true when they match.
  bool VerifyAuthentication();

 private:
  struct Crypto;
  void ReadSource(uint8_t* buffer, int64_t at, int32_t count);
  void Decrypt(uint8_t* buffer, int64_t at, int32_t count);

  TStream* source_;
  int64_t source_start_;
  // Where the source stands, counted like source_start_ + offset: it is
  // moved only when a read needs another place.
  int64_t source_at_;
  size_t key_size_;
  int64_t data_size_;
  int64_t position_ = 0;
  // Every encrypted byte before this one has gone into the code.
  int64_t authenticated_ = 0;
  bool header_read_ = false;
  std::vector<uint8_t> salt_;
  uint8_t verifier_[kWinZipAesVerifierSize] = {};
  std::unique_ptr<Crypto> crypto_;
};

}  // namespace velmora
