// WinZip AES items through the extraction driver. The input is the item's
// plain packed data with a few choices in front; the target encrypts it
// with the password "fuzz", may damage one byte of the encrypted item,
// wraps it in a one-item archive and extracts that into a bit bucket. The
// engine's own errors end a run quietly; anything else crashes the target.
//
// Input: byte 0 chooses the key strength (bits 0-1), AE-1 or AE-2 (bit 2)
// and the method underneath (bits 3-5: Stored, Deflate, bzip2, LZMA,
// Zstandard, xz, PPMd, Deflate64); byte 1, when not 0, picks the byte to
// damage; bytes 2-3 are the declared size; the rest is the packed data.
//
// Seeds (fuzz/corpus/winzip_aes_fuzzer): "hello hello hello fuzz" stored,
// deflated (zlib, raw), bzip2, LZMA (ZIP header, end marker), xz and zstd
// made with Python and the zstd tool, under each strength, and one of each
// with a damaged byte.
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstdint>
#include <string>
#include <vector>

#include "archive/zip/bit_bucket_stream.h"
#include "archive/zip/zip_archive.h"
#include "archive/zip/zip_extract.h"
#include "rtl/exceptions.h"

using namespace velmora;

namespace {

constexpr uint16_t kMethods[8] = {0, 8, 12, 14, 93, 95, 98, 9};
const std::string kPassword = "fuzz";

void Put(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Salt, verifier, AES-CTR data (little-endian counter from 1), 10-byte code.
std::vector<uint8_t> Encrypt(std::vector<uint8_t> data, uint8_t strength) {
  const size_t key = 8 + 8 * strength;
  std::vector<uint8_t> salt(key / 2, 0x5C), keys(2 * key + 2);
  PKCS5_PBKDF2_HMAC_SHA1(kPassword.data(), static_cast<int>(kPassword.size()), salt.data(),
                         static_cast<int>(salt.size()), 1000, static_cast<int>(keys.size()),
                         keys.data());
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(ctx,
                     strength == 1   ? EVP_aes_128_ecb()
                     : strength == 2 ? EVP_aes_192_ecb()
                                     : EVP_aes_256_ecb(),
                     nullptr, keys.data(), nullptr);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  for (size_t at = 0; at < data.size(); at += 16) {
    uint8_t counter[16] = {}, stream[16];
    uint64_t n = at / 16 + 1;
    for (int i = 0; i < 8; ++i, n >>= 8) counter[i] = static_cast<uint8_t>(n);
    int len = 0;
    EVP_EncryptUpdate(ctx, stream, &len, counter, 16);
    for (size_t i = 0; i < 16 && at + i < data.size(); ++i) data[at + i] ^= stream[i];
  }
  EVP_CIPHER_CTX_free(ctx);
  uint8_t code[20];
  unsigned code_size = 0;
  HMAC(EVP_sha1(), keys.data() + key, static_cast<int>(key), data.data(), data.size(), code,
       &code_size);
  std::vector<uint8_t> out = salt;
  out.insert(out.end(), keys.end() - 2, keys.end());
  out.insert(out.end(), data.begin(), data.end());
  out.insert(out.end(), code, code + 10);
  return out;
}

// One item "f" of method 99 with the 0x9901 field in both headers.
std::vector<uint8_t> OneItemZip(const std::vector<uint8_t>& item, uint16_t version,
                                uint8_t strength, uint16_t method, uint32_t unpacked) {
  std::vector<uint8_t> extra;
  Put(extra, 0x9901, 2);
  Put(extra, 7, 2);
  Put(extra, version, 2);
  extra.push_back('A');
  extra.push_back('E');
  extra.push_back(strength);
  Put(extra, method, 2);
  auto header = [&](std::vector<uint8_t>& out, bool central) {
    Put(out, central ? 0x02014B50 : 0x04034B50, 4);
    if (central) Put(out, 63, 2);  // made by
    Put(out, 51, 2);               // needed
    Put(out, 1, 2);                // encrypted
    Put(out, 99, 2);
    Put(out, 0, 4);  // time, date
    Put(out, 0, 4);  // CRC-32: AE-2 stores 0; AE-1 fails it unless the data is empty
    Put(out, static_cast<uint32_t>(item.size()), 4);
    Put(out, unpacked, 4);
    Put(out, 1, 2);  // name length
    Put(out, static_cast<uint32_t>(extra.size()), 2);
    if (central) {
      Put(out, 0, 2);  // comment
      Put(out, 0, 2);  // disk
      Put(out, 0, 2);  // internal attributes
      Put(out, 0x20, 4);
      Put(out, 0, 4);  // local header offset
    }
    out.push_back('f');
    out.insert(out.end(), extra.begin(), extra.end());
  };
  std::vector<uint8_t> zip;
  header(zip, false);
  zip.insert(zip.end(), item.begin(), item.end());
  const auto directory = static_cast<uint32_t>(zip.size());
  header(zip, true);
  Put(zip, 0x06054B50, 4);
  Put(zip, 0, 4);  // disks
  Put(zip, 1, 2);
  Put(zip, 1, 2);
  Put(zip, static_cast<uint32_t>(zip.size()) - directory, 4);
  Put(zip, directory, 4);
  Put(zip, 0, 2);
  return zip;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const uint8_t strength = static_cast<uint8_t>(1 + (data[0] & 3) % 3);
  const uint16_t version = (data[0] & 4) ? 2 : 1;
  const uint16_t method = kMethods[(data[0] >> 3) & 7];
  const uint32_t unpacked = data[2] | (data[3] << 8);
  std::vector<uint8_t> item = Encrypt(std::vector<uint8_t>(data + 4, data + size), strength);
  if (data[1] != 0) item[(data[1] * 7u) % item.size()] ^= 0x40;
  TMemoryStream stream(OneItemZip(item, version, strength, method, unpacked));
  try {
    TAbZipArchive archive(&stream, "f.zip");
    archive.Load();
    archive.Password = kPassword;
    TAbBitBucketStream bucket;
    UnzipItemToStream(archive, *archive.ZipItems(0), &bucket);
  } catch (const Exception&) {
  }
  return 0;
}
