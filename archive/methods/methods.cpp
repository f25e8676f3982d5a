#include "archive/methods/methods.h"

#include <algorithm>
#include <memory>

#include "archive/inflate/inflate.h"
#include "archive/methods/method_io.h"

namespace velmora {

bool IsMethodDecodable(uint16_t method) {
  switch (method) {
    case kZipMethodStored:
    case kZipMethodDeflate:
    case kZipMethodDeflate64:
    case kZipMethodBzip2:
    case kZipMethodLzma:
    case kZipMethodZstd:
    case kZipMethodXz:
      return true;
    default:
      return false;
  }
}

uint32_t DecodeMethodData(uint16_t method, TAbMethodJob& job) {
  switch (method) {
    case kZipMethodStored:
      return CopyStoredMethodData(job);
    case kZipMethodDeflate:
    case kZipMethodDeflate64:
      return InflateMethodData(job, method == kZipMethodDeflate64);
    case kZipMethodBzip2:
      return DecodeBzip2Data(job);
    case kZipMethodLzma:
      return DecodeLzmaData(job);
    case kZipMethodZstd:
      return DecodeZstdData(job);
    case kZipMethodXz:
      return DecodeXzData(job);
    default:
      // PPMd (98) among them: no library on the system keeps it.
      throw EAbZipInvalidMethod();
  }
}

const char* ZipMethodName(uint16_t method) {
  // The names unzip and 7-Zip list, in APPNOTE's order (4.4.5).
  switch (method) {
    case 0: return "Stored";
    case 1: return "Shrunk";
    case 2: return "Reduce1";
    case 3: return "Reduce2";
    case 4: return "Reduce3";
    case 5: return "Reduce4";
    case 6: return "Implode";
    case 7: return "Tokenize";
    case 8: return "Deflate";
    case 9: return "Def64";
    case 10: return "PKImplode";
    case 12: return "BZip2";
    case 14: return "LZMA";
    case 16: return "IBMz/OS";
    case 18: return "Terse";
    case 19: return "LZ77";
    case 93: return "Zstd";
    case 94: return "MP3";
    case 95: return "XZ";
    case 96: return "JPEG";
    case 97: return "WavPack";
    case 98: return "PPMd";
    case 99: return "AES";
    default: return nullptr;
  }
}

uint32_t CopyStoredMethodData(TAbMethodJob& job) {
  TAbMethodInput input(job);
  TAbMethodOutput output(job, "stored");
  // A source that ends early leaves the output short; the CRC-32 or the
  // authentication code says so.
  while (input.Fill()) output.Put(input.next, input.count);
  return output.Finish();
}

uint32_t InflateMethodData(TAbMethodJob& job, bool deflate64) {
  TAbDeflateHelper helper;
  if (job.TestOnly) helper.Options |= dfoTestOnly;
  if (deflate64) helper.Options |= dfoDeflate64;
  helper.SourceSize = std::max<int64_t>(job.PackedSize, 1);
  // Inflate reports by the input it has used; it is stopped through its
  // progress handler, which it may answer quietly with 0.
  bool aborted = false;
  uint8_t last_percent = 0;
  helper.OnProgressPercent = [&](int32_t percent) {
    last_percent = static_cast<uint8_t>(std::clamp(percent, 0, 100));
    bool abort = false;
    if (job.OnProgress) job.OnProgress(last_percent, abort);
    if (abort) {
      aborted = true;
      throw EAbAbortProgress("");
    }
  };
  const uint32_t crc = Inflate(job.Source, job.Destination, &helper);
  if (aborted) throw EAbUserAbort();
  if (last_percent < 100 && job.OnProgress) {
    bool abort = false;
    job.OnProgress(100, abort);
    if (abort) throw EAbUserAbort();
  }
  return crc;
}

}  // namespace velmora
