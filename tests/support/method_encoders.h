// Test-only encoders for the newer ZIP methods, through the same libraries
// the engine decodes with (libbz2, liblzma, libzstd, libcrypto): 7-Zip on
// this system writes no Zstandard items, and a test wants damaged, short or
// mislabelled data made on purpose. Also WinZip AES and traditional
// encryption, so that every key strength and both AE versions can be made
// at will. No test framework: the fuzz targets link them too.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora::testing {

std::vector<uint8_t> Bzip2Compress(const std::vector<uint8_t>& data);
// An LZMA item's data: the ZIP LZMA header (SDK version 9.20, 5 bytes of
// properties) and raw LZMA1, with or without the end marker.
std::vector<uint8_t> LzmaZipCompress(const std::vector<uint8_t>& data, bool end_marker);
std::vector<uint8_t> XzCompress(const std::vector<uint8_t>& data);
std::vector<uint8_t> ZstdCompress(const std::vector<uint8_t>& data);

// WinZip AES: salt (from salt_seed), verifier, AES-CTR data, 10-byte code.
// strength 1, 2, 3 for 128-, 192-, 256-bit keys.
std::vector<uint8_t> WinZipAesEncrypt(const std::vector<uint8_t>& packed,
                                      const std::string& password, uint8_t strength,
                                      uint8_t salt_seed = 7);
// Traditional ZIP encryption of the bytes as given, its 12-byte header
// among them: the three keys made from the password, every byte XORed with
// the key stream and then fed to the keys. Written from the format's
// description over zlib's CRC table, apart from the engine's decryptor.
std::vector<uint8_t> TraditionalEncrypt(std::vector<uint8_t> plain, const std::string& password);
// The 0x9901 extra field: AE version, "AE", strength, real method.
std::string WinZipAesExtraField(uint16_t version, uint8_t strength, uint16_t method);

// A one-item archive whose item holds packed as the data of method, with
// the CRC-32 (unless crc is given) and size of plain, and extra in both
// headers. flags 1 marks it encrypted.
std::vector<uint8_t> MethodItemZip(const std::string& name, const std::vector<uint8_t>& plain,
                                   uint16_t method, const std::vector<uint8_t>& packed,
                                   const std::string& extra = {}, uint16_t flags = 0,
                                   std::optional<uint32_t> crc = std::nullopt);
// The same with the uncompressed size and CRC-32 declared outright, for
// packed data that need not match them (a fuzz target's input).
std::vector<uint8_t> MethodItemZipDeclaring(const std::string& name, uint32_t unpacked_size,
                                            uint32_t crc, uint16_t method,
                                            const std::vector<uint8_t>& packed,
                                            const std::string& extra = {}, uint16_t flags = 0);

// Some text that compresses well but not to nothing: numbered lines.
std::vector<uint8_t> NumberedLines(int count);
// size bytes of words drawn by a fixed pseudo-random sequence from seed:
// text that compresses about 3 to 1, different for every seed.
std::vector<uint8_t> VariedText(size_t size, uint32_t seed = 1);

}  // namespace velmora::testing
