#include "archive/crypt/winzip_aes.h"

#include <openssl/core_names.h>

#include <algorithm>
#include <cstring>

#include "archive/crypt/crypto_library.h"
#include "rtl/format.h"

namespace velmora {

namespace {

constexpr size_t kExtraHeaderSize = 4;  // id and size, two bytes each
constexpr size_t kAesFieldSize = 7;     // version 2, vendor 2, strength 1, method 2
constexpr int kPbkdf2Rounds = 1000;
constexpr size_t kAesBlockSize = 16;
constexpr size_t kSha1Size = 20;
// Keystream is made this many blocks at a time.
constexpr size_t kKeystreamBlocks = 256;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

struct TAbWinZipAesStream::Crypto {
  const TAbCryptoLibrary& lib = CryptoLibrary();
  EVP_CIPHER_CTX* cipher = lib.CIPHER_CTX_new();
  EVP_MAC* mac = lib.MAC_fetch(nullptr, "HMAC", nullptr);
  EVP_MAC_CTX* mac_ctx = nullptr;
  ~Crypto() {
    lib.MAC_CTX_free(mac_ctx);
    lib.MAC_free(mac);
    lib.CIPHER_CTX_free(cipher);
  }
};

bool FindWinZipAesField(const std::string& extra, TAbWinZipAesField& field) {
  const auto* p = reinterpret_cast<const uint8_t*>(extra.data());
  size_t left = extra.size();
  while (left >= kExtraHeaderSize) {
    const uint16_t id = Le16(p);
    const size_t size = Le16(p + 2);
    if (size > left - kExtraHeaderSize) return false;
    if (id == kWinZipAesExtraId && size >= kAesFieldSize) {
      const uint8_t* f = p + kExtraHeaderSize;
      field.Version = Le16(f);
      field.Strength = f[4];
      field.Method = Le16(f + 5);
      return true;
    }
    p += kExtraHeaderSize + size;
    left -= kExtraHeaderSize + size;
  }
  return false;
}

size_t WinZipAesKeySize(uint8_t strength) {
  switch (strength) {
    case 1:
      return 16;
    case 2:
      return 24;
    case 3:
      return 32;
    default:
      return 0;
  }
}

TAbWinZipAesStream::TAbWinZipAesStream(TStream* source, int64_t packed_size, uint8_t strength)
    : source_(source),
      source_start_(source->Position()),
      source_at_(source_start_),
      key_size_(WinZipAesKeySize(strength)) {
  if (key_size_ == 0) {
    throw EAbWinZipAesError(Format("unknown WinZip AES key strength %d", {strength}));
  }
  salt_.resize(key_size_ / 2);
  const auto overhead =
      static_cast<int64_t>(salt_.size() + kWinZipAesVerifierSize + kWinZipAesCodeSize);
  if (packed_size < overhead) {
    throw EAbWinZipAesError(
        Format("WinZip AES item of %d bytes is shorter than its salt, verifier and code (%d bytes)",
               {packed_size, overhead}));
  }
  data_size_ = packed_size - overhead;
}

TAbWinZipAesStream::~TAbWinZipAesStream() = default;

void TAbWinZipAesStream::ReadSource(uint8_t* buffer, int64_t at, int32_t count) {
  const int64_t target = source_start_ + at;
  if (source_at_ != target) source_at_ = source_->Seek(target, soFromBeginning);
  int32_t got = 0;
  while (got < count) {
    const int32_t n = source_->Read(buffer + got, count - got);
    if (n <= 0) break;
    got += n;
  }
  source_at_ += got;
  if (got < count) throw EAbWinZipAesError("WinZip AES item ends before its declared size");
}

bool TAbWinZipAesStream::Open(const std::string& password) {
  const int64_t header = static_cast<int64_t>(salt_.size() + kWinZipAesVerifierSize);
  if (!header_read_) {
    std::vector<uint8_t> bytes(static_cast<size_t>(header));
    ReadSource(bytes.data(), 0, static_cast<int32_t>(header));
    std::memcpy(salt_.data(), bytes.data(), salt_.size());
    std::memcpy(verifier_, bytes.data() + salt_.size(), kWinZipAesVerifierSize);
    header_read_ = true;
  }
  // Encryption key, authentication key and verifier, in this order.
  const TAbCryptoLibrary& lib = CryptoLibrary();
  std::vector<uint8_t> keys(2 * key_size_ + kWinZipAesVerifierSize);
  if (lib.PBKDF2_HMAC_SHA1(password.data(), static_cast<int>(password.size()), salt_.data(),
                             static_cast<int>(salt_.size()), kPbkdf2Rounds,
                             static_cast<int>(keys.size()), keys.data()) != 1) {
    throw EAbWinZipAesError("the WinZip AES keys could not be derived");
  }
  const bool verified =
      lib.memcmp(keys.data() + 2 * key_size_, verifier_, kWinZipAesVerifierSize) == 0;
  if (verified) {
    auto crypto = std::make_unique<Crypto>();
    const EVP_CIPHER* cipher = key_size_ == 16   ? lib.aes_128_ecb()
                               : key_size_ == 24 ? lib.aes_192_ecb()
                                                 : lib.aes_256_ecb();
    char digest[] = "SHA1";
    const OSSL_PARAM params[] = {lib.PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                 OSSL_PARAM_END};
    if (crypto->cipher == nullptr || crypto->mac == nullptr ||
        lib.EncryptInit_ex(crypto->cipher, cipher, nullptr, keys.data(), nullptr) != 1 ||
        lib.CIPHER_CTX_set_padding(crypto->cipher, 0) != 1 ||
        (crypto->mac_ctx = lib.MAC_CTX_new(crypto->mac)) == nullptr ||
        lib.MAC_init(crypto->mac_ctx, keys.data() + key_size_, key_size_, params) != 1) {
      throw EAbWinZipAesError("the cryptography library could not set up AES");
    }
    crypto_ = std::move(crypto);
    position_ = 0;
    authenticated_ = 0;
  }
  lib.cleanse(keys.data(), keys.size());
  return verified;
}

void TAbWinZipAesStream::Decrypt(uint8_t* buffer, int64_t at, int32_t count) {
  uint8_t counters[kKeystreamBlocks * kAesBlockSize];
  uint8_t keystream[kKeystreamBlocks * kAesBlockSize];
  int32_t done = 0;
  while (done < count) {
    const int64_t offset = at + done;
    const auto first_block = static_cast<uint64_t>(offset) / kAesBlockSize;
    const auto skip = static_cast<size_t>(offset % kAesBlockSize);
    const size_t wanted = skip + static_cast<size_t>(count - done);
    const size_t blocks = std::min(kKeystreamBlocks, (wanted + kAesBlockSize - 1) / kAesBlockSize);
    std::memset(counters, 0, blocks * kAesBlockSize);
    for (size_t b = 0; b < blocks; ++b) {
      // The block counter starts at 1 and is little-endian, the way
      // WinZip's (Brian Gladman's) code counts.
      uint64_t n = first_block + b + 1;
      for (size_t i = 0; i < 8; ++i, n >>= 8) {
        counters[b * kAesBlockSize + i] = static_cast<uint8_t>(n);
      }
    }
    int out_length = 0;
    if (crypto_->lib.EncryptUpdate(crypto_->cipher, keystream, &out_length, counters,
                          static_cast<int>(blocks * kAesBlockSize)) != 1) {
      throw EAbWinZipAesError("the cryptography library failed to decrypt");
    }
    const size_t n = std::min(blocks * kAesBlockSize - skip, static_cast<size_t>(count - done));
    for (size_t i = 0; i < n; ++i) buffer[done + i] ^= keystream[skip + i];
    done += static_cast<int32_t>(n);
  }
}

int32_t TAbWinZipAesStream::Read(void* buffer, int32_t count) {
  if (!crypto_) throw EAbWinZipAesError("WinZip AES data read before its password was checked");
  const auto n = static_cast<int32_t>(std::clamp<int64_t>(data_size_ - position_, 0, count));
  if (n <= 0) return 0;
  auto* bytes = static_cast<uint8_t*>(buffer);
  const int64_t header = static_cast<int64_t>(salt_.size() + kWinZipAesVerifierSize);
  ReadSource(bytes, header + position_, n);
  // The code covers the encrypted bytes, each once, however often read.
  if (position_ + n > authenticated_) {
    const int64_t from = std::max(authenticated_, position_);
    if (crypto_->lib.MAC_update(crypto_->mac_ctx, bytes + (from - position_),
                       static_cast<size_t>(position_ + n - from)) != 1) {
      throw EAbWinZipAesError("the cryptography library failed to authenticate");
    }
    authenticated_ = position_ + n;
  }
  Decrypt(bytes, position_, n);
  position_ += n;
  return n;
}

int32_t TAbWinZipAesStream::Write(const void*, int32_t) { return 0; }

int64_t TAbWinZipAesStream::Seek(int64_t offset, uint16_t origin) {
  int64_t base = 0;
  if (origin == soFromCurrent) base = position_;
  if (origin == soFromEnd) base = data_size_;
  position_ = std::clamp<int64_t>(base + offset, 0, data_size_);
  return position_;
}

bool TAbWinZipAesStream::VerifyAuthentication() {
  if (!crypto_) return false;
  std::vector<uint8_t> rest(64 * 1024);
  Seek(authenticated_, soFromBeginning);
  while (position_ < data_size_) {
    if (Read(rest.data(), static_cast<int32_t>(rest.size())) <= 0) return false;
  }
  uint8_t stored[kWinZipAesCodeSize];
  const int64_t header = static_cast<int64_t>(salt_.size() + kWinZipAesVerifierSize);
  ReadSource(stored, header + data_size_, static_cast<int32_t>(kWinZipAesCodeSize));
  uint8_t code[EVP_MAX_MD_SIZE];
  size_t code_size = 0;
  if (crypto_->lib.MAC_final(crypto_->mac_ctx, code, &code_size, sizeof code) != 1 ||
      code_size < kWinZipAesCodeSize) {
    throw EAbWinZipAesError("the cryptography library failed to authenticate");
  }
  static_assert(kSha1Size >= kWinZipAesCodeSize);
  return crypto_->lib.memcmp(code, stored, kWinZipAesCodeSize) == 0;
}

}  // namespace velmora
