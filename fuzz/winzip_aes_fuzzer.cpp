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
#include <cstdint>
#include <string>
#include <vector>

#include "archive/zip/bit_bucket_stream.h"
#include "archive/zip/zip_archive.h"
#include "archive/zip/zip_extract.h"
#include "rtl/exceptions.h"
#include "tests/support/method_encoders.h"

using namespace velmora;

namespace {

constexpr uint16_t kMethods[8] = {0, 8, 12, 14, 93, 95, 98, 9};
const std::string kPassword = "fuzz";
constexpr uint16_t kWinZipAesMethod = 99;
constexpr uint16_t kEncryptedFlag = 1;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const uint8_t strength = static_cast<uint8_t>(1 + (data[0] & 3) % 3);
  const uint16_t version = (data[0] & 4) ? 2 : 1;
  const uint16_t method = kMethods[(data[0] >> 3) & 7];
  const uint32_t unpacked = data[2] | (data[3] << 8);
  std::vector<uint8_t> item =
      testing::WinZipAesEncrypt(std::vector<uint8_t>(data + 4, data + size), kPassword, strength);
  if (data[1] != 0) item[(data[1] * 7u) % item.size()] ^= 0x40;
  // CRC-32 0: AE-2 stores 0; AE-1 fails it unless the data is empty.
  TMemoryStream stream(testing::MethodItemZipDeclaring(
      "f", unpacked, 0, kWinZipAesMethod, item,
      testing::WinZipAesExtraField(version, strength, method), kEncryptedFlag));
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
