// bzip2 (method 12) through libbz2. An item holds one bzip2 stream; a few
// parallel compressors write several streams back to back, which bunzip2
// reads as one, so a stream end followed by more data starts the next.
#include <bzlib.h>

#include <memory>

#include "archive/methods/method_io.h"
#include "rtl/format.h"

namespace velmora {

namespace {

constexpr const char* kName = "bzip2";

// The library's verdict in words a user can act on.
[[noreturn]] void RaiseBzip2Error(int code) {
  switch (code) {
    case BZ_DATA_ERROR:
    case BZ_DATA_ERROR_MAGIC:
      throw EAbMethodDataError("bzip2 data is damaged");
    case BZ_MEM_ERROR:
      throw EAbMethodDataError("not enough memory to decode bzip2 data");
    default:
      throw EAbMethodDataError(Format("bzip2 decoder failed (error %d)", {code}));
  }
}

struct Bzip2Stream {
  bz_stream z{};
  bool open = false;
  void Open() {
    z = bz_stream{};
    const int rc = BZ2_bzDecompressInit(&z, 0, 0);
    if (rc != BZ_OK) RaiseBzip2Error(rc);
    open = true;
  }
  void Close() {
    if (open) BZ2_bzDecompressEnd(&z);
    open = false;
  }
  ~Bzip2Stream() { Close(); }
};

}  // namespace

uint32_t DecodeBzip2Data(TAbMethodJob& job) {
  TAbMethodInput input(job);
  TAbMethodOutput output(job, kName);
  std::unique_ptr<uint8_t[]> out(new uint8_t[kMethodOutputBlock]);
  Bzip2Stream bz;
  bz.Open();
  bool stream_ended = false;
  // Until the decoder leaves output room unused it may hold more output
  // for the input it has: ask again before reading on.
  bool needs_input = true;
  for (;;) {
    if (bz.z.avail_in == 0 && (needs_input || stream_ended)) {
      if (!input.Fill()) break;
      bz.z.next_in = reinterpret_cast<char*>(const_cast<uint8_t*>(input.next));
      bz.z.avail_in = static_cast<unsigned>(input.count);
    }
    if (stream_ended) {
      // Only another stream ("BZh") may follow; anything else is slack
      // after the data, which unzip ignores as well.
      if (bz.z.avail_in > 0 && bz.z.next_in[0] != 'B') break;
      bz.Close();
      const char* next_in = bz.z.next_in;
      const unsigned avail_in = bz.z.avail_in;
      bz.Open();
      bz.z.next_in = const_cast<char*>(next_in);
      bz.z.avail_in = avail_in;
      stream_ended = false;
    }
    bz.z.next_out = reinterpret_cast<char*>(out.get());
    bz.z.avail_out = static_cast<unsigned>(kMethodOutputBlock);
    const int rc = BZ2_bzDecompress(&bz.z);
    if (rc != BZ_OK && rc != BZ_STREAM_END) RaiseBzip2Error(rc);
    needs_input = bz.z.avail_out != 0;
    output.Put(out.get(), kMethodOutputBlock - bz.z.avail_out);
    if (rc == BZ_STREAM_END) {
      stream_ended = true;
      if (output.Room() == 0) break;
    }
  }
  if (!stream_ended) throw EAbMethodDataError("bzip2 data ends before its end of stream");
  return output.Finish();
}

}  // namespace velmora
