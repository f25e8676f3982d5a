// The three-key cipher state of traditional PKWARE encryption (APPNOTE,
// "Traditional PKWARE Decryption"). Shared by the decrypting stream and the
// legacy decoders' decryptor so both walk the keys the same way.
#pragma once

#include <cstdint>
#include <string>

#include "archive/checksum/crc32.h"

namespace velmora {

// Bytes of the encryption header in front of an encrypted item's data.
constexpr int32_t kZipCryptHeaderSize = 12;

struct ZipCryptKeys {
  // APPNOTE's initial key values.
  uint32_t key0 = 0x12345678u;
  uint32_t key1 = 0x23456789u;
  uint32_t key2 = 0x34567890u;

  void Reset(const std::string& password) {
    key0 = 0x12345678u;
    key1 = 0x23456789u;
    key2 = 0x34567890u;
    for (char c : password) Update(static_cast<uint8_t>(c));
  }

  // Key update with a plain byte; 134775813 is APPNOTE's multiplier.
  void Update(uint8_t plain) {
    key0 = UpdateCrc32Byte(plain, key0);
    key1 = (key1 + (key0 & 0xFF)) * 134775813u + 1;
    key2 = UpdateCrc32Byte(static_cast<uint8_t>(key1 >> 24), key2);
  }

  uint8_t StreamByte() const {
    uint32_t t = (key2 & 0xFFFF) | 2;
    return static_cast<uint8_t>((t * (t ^ 1)) >> 8);
  }

  uint8_t DecryptByte(uint8_t cipher) {
    uint8_t plain = cipher ^ StreamByte();
    Update(plain);
    return plain;
  }

  // In place, strictly in stream order.
  void Decrypt(uint8_t* data, int64_t count) {
    // Locals let the compiler keep the keys in registers across the loop.
    ZipCryptKeys k = *this;
    for (int64_t i = 0; i < count; ++i) data[i] = k.DecryptByte(data[i]);
    *this = k;
  }
};

}  // namespace velmora
