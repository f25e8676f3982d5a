// Zstandard (method 93) through libzstd. An item holds one or more zstd
// frames back to back (skippable frames among them, which carry no output).
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <bit>
#include <memory>

#include "archive/methods/method_io.h"
#include "rtl/format.h"

namespace velmora {

namespace {

// libzstd refuses frames whose window is larger than 2^27 bytes unless told
// otherwise, as the zstd tool does without --long. A frame never needs a
// window larger than its content, so an item declared larger than that may
// use a window as large as itself, up to the format's 2^31.
constexpr int kZstdDefaultWindowLog = 27;
constexpr int kZstdLargestWindowLog = 31;

struct ZstdStream {
  ZSTD_DStream* d = ZSTD_createDStream();
  ~ZstdStream() { ZSTD_freeDStream(d); }
};

[[noreturn]] void RaiseZstdError(size_t rc) {
  switch (ZSTD_getErrorCode(rc)) {
    case ZSTD_error_memory_allocation:
      throw EAbMethodDataError("not enough memory to decode Zstandard data");
    case ZSTD_error_frameParameter_windowTooLarge:
      throw EAbMethodDataError("Zstandard data asks for a window larger than the item");
    default:
      throw EAbMethodDataError(Format("Zstandard data is damaged (%s)", {ZSTD_getErrorName(rc)}));
  }
}

}  // namespace

uint32_t DecodeZstdData(TAbMethodJob& job) {
  TAbMethodInput input(job);
  TAbMethodOutput output(job, "Zstandard");
  ZstdStream stream;
  if (stream.d == nullptr) throw EAbMethodDataError("not enough memory to decode Zstandard data");
  const uint64_t declared = static_cast<uint64_t>(std::max<int64_t>(job.UnpackedSize, 1));
  const int window_log = std::clamp(static_cast<int>(std::bit_width(declared - 1)),
                                    kZstdDefaultWindowLog, kZstdLargestWindowLog);
  size_t rc = ZSTD_DCtx_setParameter(stream.d, ZSTD_d_windowLogMax, window_log);
  if (ZSTD_isError(rc)) RaiseZstdError(rc);

  std::unique_ptr<uint8_t[]> out(new uint8_t[kMethodOutputBlock]);
  ZSTD_inBuffer in{nullptr, 0, 0};
  // 0 once a frame has ended and no other has begun.
  size_t frame_rest = 0;
  bool any_frame = false;
  bool needs_input = true;
  for (;;) {
    if (in.pos == in.size && needs_input) {
      if (!input.Fill()) break;
      in = ZSTD_inBuffer{input.next, input.count, 0};
    }
    ZSTD_outBuffer out_buffer{out.get(), kMethodOutputBlock, 0};
    rc = ZSTD_decompressStream(stream.d, &out_buffer, &in);
    if (ZSTD_isError(rc)) RaiseZstdError(rc);
    any_frame = true;
    frame_rest = rc;
    // A full output buffer may mean more output is waiting for this input.
    needs_input = out_buffer.pos < out_buffer.size;
    output.Put(out.get(), out_buffer.pos);
  }
  if (!any_frame) throw EAbMethodDataError("Zstandard data is empty");
  if (frame_rest != 0) throw EAbMethodDataError("Zstandard data ends inside a frame");
  return output.Finish();
}

}  // namespace velmora
