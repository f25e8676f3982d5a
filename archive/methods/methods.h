// Decoders for the ZIP compression methods that came after the original
// six: bzip2 (12), LZMA (14), Zstandard (93) and xz (95), each through the
// library that keeps its format, plus Stored and Deflate so that a WinZip
// AES item can carry any of them. Every decoder reads an item's packed data
// from a source stream and writes what it decodes to a destination stream,
// and returns the CRC-32 of what it wrote.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "archive/base/exceptions.h"
#include "rtl/stream.h"

namespace velmora {

// ZIP method numbers (APPNOTE 4.4.5).
constexpr uint16_t kZipMethodStored = 0;
constexpr uint16_t kZipMethodDeflate = 8;
constexpr uint16_t kZipMethodDeflate64 = 9;
constexpr uint16_t kZipMethodBzip2 = 12;
constexpr uint16_t kZipMethodLzma = 14;
constexpr uint16_t kZipMethodZstd = 93;
constexpr uint16_t kZipMethodXz = 95;
constexpr uint16_t kZipMethodPpmd = 98;
// Not a compression method: the item is WinZip AES encrypted and its 0x9901
// extra field names the method underneath.
constexpr uint16_t kZipMethodWinZipAes = 99;

// General purpose bit 1 of an LZMA item: its data ends with an end marker.
constexpr uint16_t kZipFlagLzmaEndMarker = 0x0002;

// Damaged or unusable method data. The text says which method and what is
// wrong; it never names a library call, only the library's own verdict.
constexpr int32_t AbMethodDataError = 120;
class EAbMethodDataError : public EAbZipException {
 public:
  explicit EAbMethodDataError(const std::string& detail)
      : EAbZipException("Cannot extract file - " + detail, AbMethodDataError) {}
};

// What one item's decoding works with.
struct TAbMethodJob {
  // The packed data starts at Source's position; PackedSize bytes of it
  // belong to the item, and nothing past them is read.
  TStream* Source = nullptr;
  int64_t PackedSize = 0;
  TStream* Destination = nullptr;
  // The declared uncompressed size: the decoders never write more, and
  // data that would make more fails the item.
  int64_t UnpackedSize = 0;
  // The item's general purpose bits.
  uint16_t Flags = 0;
  // The largest single write the destination takes (a test's bit bucket
  // keeps only so much at once).
  int32_t MaxWrite = 64 * 1024;
  // The destination only tests: Deflate then keeps nothing it need not.
  bool TestOnly = false;
  // The threads a decoder may use (bzip2 decodes blocks side by side, on
  // up to 8): 0 for one per core, 1 for the calling thread alone.
  int32_t Threads = 0;
  // Told the whole percentage of the output written whenever it changes,
  // and 100 at the end; setting abort stops the item with EAbUserAbort.
  std::function<void(uint8_t percent, bool& abort)> OnProgress;
};

// True for the methods DecodeMethodData takes.
bool IsMethodDecodable(uint16_t method);

// Decodes one item's data by its method; returns the CRC-32 of the output.
// Raises EAbZipInvalidMethod for a method it does not take (PPMd among
// them), EAbMethodDataError for damaged data or more output than declared,
// EAbUserAbort when the progress handler aborts.
uint32_t DecodeMethodData(uint16_t method, TAbMethodJob& job);

// The method's name as listings show it ("BZip2", "LZMA", "Zstd", "XZ",
// "AES", ...), or nullptr for a number without a name.
const char* ZipMethodName(uint16_t method);

// The decoders one by one (DecodeMethodData chooses among them).
uint32_t CopyStoredMethodData(TAbMethodJob& job);
uint32_t InflateMethodData(TAbMethodJob& job, bool deflate64);
uint32_t DecodeBzip2Data(TAbMethodJob& job);
uint32_t DecodeLzmaData(TAbMethodJob& job);
uint32_t DecodeXzData(TAbMethodJob& job);
uint32_t DecodeZstdData(TAbMethodJob& job);

}  // namespace velmora
