// bzip2 (method 12) through libbz2. An item holds one bzip2 stream; a few
// parallel compressors write several streams back to back, which bunzip2
// reads as one, so a stream end followed by more data starts the next.
//
// An item whose packed data fits in memory is read whole, and its blocks
// are decoded on every core (bzip2_parallel.h) when it is the ordinary
// kind; for anything else the one-block-after-another decoder here decides,
// going on from what the parallel decoder passed on.
#include <bzlib.h>

#include <algorithm>
#include <memory>
#include <new>
#include <span>
#include <thread>
#include <vector>

#include "archive/methods/bzip2_parallel.h"
#include "archive/methods/method_io.h"
#include "rtl/format.h"

namespace velmora {

namespace {

constexpr const char* kName = "bzip2";

// Packed data up to this size is read into memory to share its blocks out;
// larger items stream through one decoder.
constexpr int64_t kMaxPackedInMemory = int64_t{256} << 20;

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

// Packed data already in memory, handed out in the blocks TAbMethodInput
// reads.
class MemoryInput {
 public:
  explicit MemoryInput(std::span<const uint8_t> data) : data_(data) {}
  bool Fill() {
    next = data_.data() + at_;
    count = std::min<size_t>(data_.size() - at_, TAbMethodInput::kBlockSize);
    at_ += count;
    return count > 0;
  }
  const uint8_t* next = nullptr;
  size_t count = 0;

 private:
  std::span<const uint8_t> data_;
  size_t at_ = 0;
};

// Decodes the streams of input one block after another, passing the
// output on but for its first skip bytes (which an earlier decoding of the
// same data passed on already).
template <typename Input>
void DecodeSequentially(Input& input, TAbChunkedOutput& output, int64_t skip) {
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
    needs_input = bz.z.avail_out != 0;
    size_t produced = kMethodOutputBlock - bz.z.avail_out;
    const auto skipped =
        static_cast<size_t>(std::min<int64_t>(skip, static_cast<int64_t>(produced)));
    skip -= static_cast<int64_t>(skipped);
    produced -= skipped;
    // What the library made before it failed goes on too (a block is
    // checked after its output): so the blocks before a failing one go on
    // whole, as the parallel decoder passes them on.
    output.Add(out.get() + skipped, produced);
    if (rc != BZ_OK && rc != BZ_STREAM_END) RaiseBzip2Error(rc);
    if (rc == BZ_STREAM_END) {
      stream_ended = true;
      if (output.Room() == 0) break;
    }
  }
  if (!stream_ended) throw EAbMethodDataError("bzip2 data ends before its end of stream");
}

// One per core, but no more than kMaxThreads: each holds a block of up to
// ~46 MB decoded (bzip2's run-length stage), and two more wait.
constexpr int kMaxThreads = 8;

int DecoderThreads(const TAbMethodJob& job) {
  if (job.Threads > 0) return std::min<int>(job.Threads, kMaxThreads);
  return std::min(static_cast<int>(std::thread::hardware_concurrency()), kMaxThreads);
}

}  // namespace

uint32_t DecodeBzip2Data(TAbMethodJob& job) {
  TAbMethodOutput method_output(job, kName);
  TAbChunkedOutput output(method_output);
  std::vector<uint8_t> packed;
  bool in_memory =
      DecoderThreads(job) >= 2 && job.PackedSize > 0 && job.PackedSize <= kMaxPackedInMemory;
  if (in_memory) {
    try {
      packed.reserve(static_cast<size_t>(job.PackedSize));
    } catch (const std::bad_alloc&) {  // then it streams, as on one core
      in_memory = false;
    }
  }
  TAbMethodInput input(job);
  if (!in_memory) {
    DecodeSequentially(input, output, 0);
    return output.Finish();
  }
  while (input.Fill()) packed.insert(packed.end(), input.next, input.next + input.count);
  if (!DecodeBzip2Blocks(packed, DecoderThreads(job), output)) {
    // Decoding is deterministic: the sequential decoder makes the same
    // bytes of what was passed on, and goes on from there.
    MemoryInput memory(packed);
    DecodeSequentially(memory, output, output.Added());
  }
  return output.Finish();
}

}  // namespace velmora
