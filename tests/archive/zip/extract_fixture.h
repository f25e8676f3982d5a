// Shared by the extraction driver's tests: archives built in memory and
// loaded from a memory stream, a recorder of the archive's notifications,
// and traditional ZIP encryption (APPNOTE 6.1) to make encrypted items.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/checksum/crc32.h"
#include "archive/zip/zip_archive.h"
#include "tests/support/zip_writer.h"

namespace velmora::extract_test {

// Encrypts data with the traditional scheme: a 12-byte header whose last
// byte is the high byte of check_value, then the data.
inline std::vector<uint8_t> Encrypt(const std::vector<uint8_t>& data, const std::string& password,
                                    uint32_t check_value) {
  uint32_t k0 = 0x12345678, k1 = 0x23456789, k2 = 0x34567890;
  auto update = [&](uint8_t plain) {
    k0 = UpdateCrc32Byte(plain, k0);
    k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
    k2 = UpdateCrc32Byte(static_cast<uint8_t>(k1 >> 24), k2);
  };
  for (char c : password) update(static_cast<uint8_t>(c));
  std::vector<uint8_t> out;
  out.reserve(12 + data.size());
  auto encrypt = [&](uint8_t p) {
    const uint32_t t = (k2 & 0xFFFF) | 2;
    out.push_back(static_cast<uint8_t>(p ^ static_cast<uint8_t>((t * (t ^ 1)) >> 8)));
    update(p);
  };
  for (int i = 0; i < 11; ++i) encrypt(0x5A);
  encrypt(static_cast<uint8_t>(check_value >> 24));
  for (uint8_t p : data) encrypt(p);
  return out;
}

// An encrypted entry: the writer stores the data as given (method 0 or 8),
// so the payload is made here and the CRC is that of the plain text.
inline testing::ZipWriterEntry EncryptedEntry(const std::string& name,
                                              const std::vector<uint8_t>& plain,
                                              const std::string& password, bool deflate,
                                              uint16_t extra_flags = 0,
                                              uint16_t dos_time = testing::kZipTestDosTime) {
  const uint32_t crc = testing::Crc32Of(plain);
  const uint16_t flags = static_cast<uint16_t>(1 | extra_flags);
  const uint32_t check = (flags & 8) ? static_cast<uint32_t>(dos_time) << 16 : crc;
  const std::vector<uint8_t> payload = deflate ? testing::DeflateRaw(plain) : plain;
  testing::ZipWriterEntry entry{.name = name, .data = Encrypt(payload, password, check)};
  entry.flags = flags;
  entry.dos_time = dos_time;
  entry.crc = crc;
  // The writer's sizes are those of the bytes it stores; the method goes
  // into the headers after the fact (see Patch16).
  entry.method = 0;
  return entry;
}

inline void Patch16(std::vector<uint8_t>& bytes, size_t at, uint16_t value) {
  bytes.at(at) = static_cast<uint8_t>(value);
  bytes.at(at + 1) = static_cast<uint8_t>(value >> 8);
}
inline void Patch32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
}
// Offsets of the method and the uncompressed size in the two headers.
constexpr size_t kLocalMethod = 8, kCentralMethod = 10;
constexpr size_t kLocalUnpacked = 22, kCentralUnpacked = 24;
constexpr size_t kCentralNeeded = 6, kLocalNeeded = 4;

// Sets method and uncompressed size of item i in both headers.
inline void SetMethodAndSize(testing::ZipImage& zip, size_t i, uint16_t method, uint32_t size) {
  Patch16(zip.bytes, zip.local_header_positions[i] + kLocalMethod, method);
  Patch16(zip.bytes, zip.central_header_positions[i] + kCentralMethod, method);
  Patch32(zip.bytes, zip.local_header_positions[i] + kLocalUnpacked, size);
  Patch32(zip.bytes, zip.central_header_positions[i] + kCentralUnpacked, size);
}

// An archive read from memory, with what it reported.
struct MemoryZip {
  explicit MemoryZip(std::vector<uint8_t> bytes)
      : stream(std::move(bytes)), archive(&stream, "t.zip") {
    archive.Load();
    archive.OnStepProgress = [this](uint8_t progress, bool& abort) {
      steps.push_back(progress);
      abort = abort_at >= 0 && progress >= abort_at;
    };
  }
  TAbZipItem& Item(int i) { return *archive.ZipItems(i); }
  void RecordFailures() {
    archive.OnProcessItemFailure = [this](void* sender, TAbArchiveItem* item, TAbProcessType type,
                                          TAbErrorClass error_class, int32_t code) {
      failures.push_back({sender, item, type, error_class, code});
    };
  }

  struct Failure {
    void* sender;
    TAbArchiveItem* item;
    TAbProcessType type;
    TAbErrorClass error_class;
    int32_t code;
  };
  TMemoryStream stream;
  TAbZipArchive archive;
  std::vector<int> steps;
  std::vector<Failure> failures;
  int abort_at = -1;
};

}  // namespace velmora::extract_test
