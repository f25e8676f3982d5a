#include "archive/zip/zip_methods.h"

#include <memory>
#include <type_traits>

#include "archive/base/exceptions.h"
#include "archive/crypt/decrypt_stream.h"
#include "archive/crypt/winzip_aes.h"
#include "archive/methods/methods.h"
#include "archive/zip/bit_bucket_stream.h"
#include "archive/zip/zip_archive.h"
#include "archive/zip/zip_extract.h"
#include "archive/zip/zip_item.h"

namespace velmora {

namespace {

// The traditional encryption header in front of an encrypted item's data.
constexpr int64_t kZipCryptHeaderBytes = 12;
// A test's bit bucket keeps only its ring at a time.
constexpr int32_t kBucketWrite = 4096;

// Sizes in the directory are unsigned; the item model may hold them in a
// signed 32-bit value, or in 64 bits where it reads ZIP64 sizes.
template <typename T>
int64_t UnsignedSize(T size) {
  if constexpr (sizeof(T) <= 4) {
    return static_cast<int64_t>(static_cast<std::make_unsigned_t<T>>(size));
  } else {
    return static_cast<int64_t>(size);
  }
}

TAbMethodJob MakeJob(TAbZipArchive& archive, TAbZipItem& item, TStream* source, int64_t packed_size,
                     TStream* stream) {
  TAbMethodJob job;
  job.Source = source;
  job.PackedSize = packed_size;
  job.Destination = stream;
  job.UnpackedSize = UnsignedSize(item.GetUnpackedSize());
  job.Flags = item.FlagBits();
  job.TestOnly = dynamic_cast<TAbBitBucketStream*>(stream) != nullptr;
  if (job.TestOnly) job.MaxWrite = kBucketWrite;
  job.OnProgress = archive.OnStepProgress;
  return job;
}

// Traditional encryption under a new method (7-Zip writes it): the header
// is checked with the first password and up to PasswordRetries more.
uint32_t ExtractZipCryptData(TAbZipArchive& archive, TAbZipItem& item, uint16_t method,
                             TStream* stream, uint32_t check_value) {
  int count = 0;
  EnsurePassword(archive, count);
  auto decrypt =
      std::make_unique<TAbDfDecryptStream>(archive.Stream(), archive.Password, check_value);
  while (!decrypt->VerifyHeader()) {
    if (count >= archive.PasswordRetries) throw EAbZipInvalidPassword();
    if (RequestPassword(archive)) throw EAbUserAbort();
    decrypt = std::make_unique<TAbDfDecryptStream>(archive.Stream(), archive.Password, check_value);
    ++count;
  }
  const int64_t packed = UnsignedSize(item.GetPackedSize()) - kZipCryptHeaderBytes;
  TAbMethodJob job = MakeJob(archive, item, decrypt.get(), packed, stream);
  return DecodeMethodData(method, job);
}

uint32_t ExtractWinZipAesData(TAbZipArchive& archive, TAbZipItem& item,
                              const TAbZipLocalFileHeader& header, TStream* stream) {
  // Both headers carry the field; the local one describes the data that
  // follows it. The raw bytes: the field holds zeros.
  TAbWinZipAesField field;
  if (!FindWinZipAesField(header.ExtraField, field) &&
      !FindWinZipAesField(item.DirectoryHeader().ExtraField, field)) {
    throw EAbWinZipAesError("WinZip AES item has no AES extra field (0x9901)");
  }
  // Refused before any password is asked for: no password can help.
  if (!IsMethodDecodable(field.Method)) throw EAbZipInvalidMethod();

  TAbWinZipAesStream aes(archive.Stream(), UnsignedSize(item.GetPackedSize()), field.Strength);
  int count = 0;
  EnsurePassword(archive, count);
  while (!aes.Open(archive.Password)) {
    if (count >= archive.PasswordRetries) throw EAbZipInvalidPassword();
    if (RequestPassword(archive)) throw EAbUserAbort();
    ++count;
  }
  TAbMethodJob job = MakeJob(archive, item, &aes, aes.DataSize(), stream);
  const uint32_t crc = DecodeMethodData(field.Method, job);
  if (!aes.VerifyAuthentication()) {
    throw EAbZipException(
        "Cannot extract file - the WinZip AES authentication code does not match: "
        "the data is damaged or the password is wrong",
        AbZipBadCRC);
  }
  // AE-2 stores no CRC-32 (0) on purpose: the code vouches for the data.
  return field.Version == kWinZipAesVersion2 ? item.GetCrc32() : crc;
}

}  // namespace

bool IsMethodsLibraryItem(uint16_t method) {
  switch (method) {
    case kZipMethodBzip2:
    case kZipMethodLzma:
    case kZipMethodZstd:
    case kZipMethodXz:
    case kZipMethodPpmd:  // only to be refused as the method it is
    case kZipMethodWinZipAes:
      return true;
    default:
      return false;
  }
}

uint32_t ExtractMethodsLibraryData(TAbZipArchive& Archive, TAbZipItem& Item,
                                   const TAbZipLocalFileHeader& Header, TStream* Stream,
                                   uint32_t CheckValue) {
  const uint16_t method = Header.CompressionMethod;
  // Refused before any password is asked for: no password can help.
  if (method != kZipMethodWinZipAes && !IsMethodDecodable(method)) throw EAbZipInvalidMethod();
  if (method == kZipMethodWinZipAes) return ExtractWinZipAesData(Archive, Item, Header, Stream);
  if (Item.GetEncrypted()) return ExtractZipCryptData(Archive, Item, method, Stream, CheckValue);
  TAbMethodJob job =
      MakeJob(Archive, Item, Archive.Stream(), UnsignedSize(Item.GetPackedSize()), Stream);
  return DecodeMethodData(method, job);
}

}  // namespace velmora
