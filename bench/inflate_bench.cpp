// Inflate throughput of ours against zlib, libdeflate and isa-l on the
// corpora of bench/make_corpora.sh, each compressed here with zlib at
// levels 1, 6 and 9, plus ours on 7-Zip's Deflate64 of the text corpus.
//
// Ours runs as the extraction runs it: reading a TStream that lends its
// memory and writing a TStream (lean memory streams over preallocated
// buffers), told the size the output is declared to have, computing the
// CRC-32 of the output. The peers decode raw Deflate in memory and compute
// no checksum. The machine is shared and noisy, so every contender runs
// once per round, interleaved, and the medians are reported; each run is
// timed in the CPU time of this process, not on the wall clock, so time
// the scheduler gives other programs is not counted against a contender.
//
// Usage: inflate_bench [CORPORA_DIR] [ROUNDS]
#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "archive/inflate/inflate.h"

namespace {

using velmora::TStream;

// A read-only stream over bytes it does not own.
class ByteSource : public TStream {
 public:
  ByteSource(const uint8_t* data, size_t size) : data_(data), size_(static_cast<int64_t>(size)) {}
  int32_t Read(void* buffer, int32_t count) override {
    int64_t n = std::min<int64_t>(count, size_ - position_);
    if (n <= 0) return 0;
    std::memcpy(buffer, data_ + position_, static_cast<size_t>(n));
    position_ += n;
    return static_cast<int32_t>(n);
  }
  // The bytes themselves, as an archive's stream lends its buffer.
  int32_t ReadInPlace(const uint8_t*& data, int32_t count, int64_t) override {
    int64_t n = std::max<int64_t>(0, std::min<int64_t>(count, size_ - position_));
    data = data_ + position_;
    position_ += n;
    return static_cast<int32_t>(n);
  }
  int32_t Write(const void*, int32_t) override { return 0; }
  int64_t Seek(int64_t offset, uint16_t origin) override {
    int64_t base = origin == velmora::soFromCurrent ? position_
                   : origin == velmora::soFromEnd   ? size_
                                                    : 0;
    position_ = base + offset;
    return position_;
  }

 private:
  const uint8_t* data_;
  int64_t size_;
  int64_t position_ = 0;
};

// A write stream into a preallocated buffer.
class ByteSink : public TStream {
 public:
  explicit ByteSink(std::vector<uint8_t>& buffer) : buffer_(buffer) {}
  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void* data, int32_t count) override {
    int64_t n = std::min<int64_t>(count, static_cast<int64_t>(buffer_.size()) - position_);
    if (n <= 0) return 0;
    std::memcpy(buffer_.data() + position_, data, static_cast<size_t>(n));
    position_ += n;
    return static_cast<int32_t>(n);
  }
  int64_t Seek(int64_t offset, uint16_t origin) override {
    position_ = (origin == velmora::soFromCurrent ? position_ : 0) + offset;
    return position_;
  }
  // The buffer itself, as a memory stream lends its vector.
  uint8_t* DirectWriteBlock(int64_t count) override {
    return count <= static_cast<int64_t>(buffer_.size()) - position_ ? buffer_.data() + position_
                                                                      : nullptr;
  }
  void CommitDirect(int64_t count) override { position_ += count; }

 private:
  std::vector<uint8_t>& buffer_;
  int64_t position_ = 0;
};

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<uint8_t> CompressRaw(const std::vector<uint8_t>& data, int level) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::vector<uint8_t> out(deflateBound(&z, data.size()));
  z.next_in = const_cast<uint8_t*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

size_t Ours(const std::vector<uint8_t>& in, std::vector<uint8_t>& out, size_t size,
            bool deflate64) {
  ByteSource source(in.data(), in.size());
  ByteSink sink(out);
  velmora::TAbDeflateHelper helper;
  if (deflate64) helper.Options |= velmora::dfoDeflate64;
  helper.KnownUnpackedSize = static_cast<int64_t>(size);
  velmora::Inflate(&source, &sink, &helper);
  return static_cast<size_t>(helper.UnpackedSize);
}

size_t Zlib(const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
  z_stream z{};
  inflateInit2(&z, -15);
  z.next_in = const_cast<uint8_t*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  inflate(&z, Z_FINISH);
  size_t n = z.total_out;
  inflateEnd(&z);
  return n;
}

size_t Libdeflate(libdeflate_decompressor* d, const std::vector<uint8_t>& in,
                  std::vector<uint8_t>& out) {
  size_t n = 0;
  libdeflate_deflate_decompress(d, in.data(), in.size(), out.data(), out.size(), &n);
  return n;
}

size_t Isal(const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
  inflate_state state;
  isal_inflate_init(&state);
  state.crc_flag = ISAL_DEFLATE;
  state.next_in = const_cast<uint8_t*>(in.data());
  state.avail_in = static_cast<uint32_t>(in.size());
  state.next_out = out.data();
  state.avail_out = static_cast<uint32_t>(out.size());
  isal_inflate(&state);
  return state.total_out;
}

// Seconds of CPU time this process has used (user and system).
double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// MB/s of each decoder, run interleaved round after round; checks sizes.
std::vector<double> Measure(const std::vector<std::function<size_t()>>& runs, size_t expected,
                            int rounds) {
  std::vector<std::vector<double>> speeds(runs.size());
  for (int round = 0; round < rounds; ++round) {
    for (size_t i = 0; i < runs.size(); ++i) {
      const double start = CpuSeconds();
      size_t produced = runs[i]();
      const double seconds = CpuSeconds() - start;
      if (produced != expected) {
        std::fprintf(stderr, "decoder %zu produced %zu bytes, expected %zu\n", i, produced, expected);
        std::exit(1);
      }
      speeds[i].push_back(static_cast<double>(expected) / seconds / 1e6);
    }
  }
  std::vector<double> medians;
  for (auto& s : speeds) medians.push_back(Median(s));
  return medians;
}

// The raw stream of the first item of a ZIP archive, from its local header.
std::vector<uint8_t> FirstItemStream(const std::vector<uint8_t>& zip, uint32_t& unpacked) {
  auto le = [&](size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | zip.at(at + static_cast<size_t>(i));
    return v;
  };
  size_t start = 30 + le(26, 2) + le(28, 2);
  unpacked = le(22, 4);
  return {zip.begin() + static_cast<long>(start), zip.begin() + static_cast<long>(start + le(18, 4))};
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : VELMORA_SOURCE_DIR "/build-inflate/corpora";
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;
  libdeflate_decompressor* ld = libdeflate_alloc_decompressor();
  double min_vs_zlib = 1e9, text6_vs_libdeflate = 0;
  std::printf("%-8s %5s %9s %9s %9s %9s %9s %8s %8s %8s\n", "corpus", "level", "packed", "ours",
              "zlib", "libdefl", "isa-l", "/zlib", "/libdefl", "/isa-l");
  for (const char* corpus : {"text.bin", "binary.bin", "mixed.tar"}) {
    std::vector<uint8_t> data = ReadFile(dir + "/" + corpus);
    if (data.empty()) {
      std::fprintf(stderr, "missing %s/%s; run bench/make_corpora.sh\n", dir.c_str(), corpus);
      return 1;
    }
    std::vector<uint8_t> out(data.size() + 64);
    for (int level : {1, 6, 9}) {
      std::vector<uint8_t> packed = CompressRaw(data, level);
      std::vector<double> mbps = Measure(
          {[&] { return Ours(packed, out, data.size(), false); }, [&] { return Zlib(packed, out); },
           [&] { return Libdeflate(ld, packed, out); }, [&] { return Isal(packed, out); }},
          data.size(), rounds);
      if (!std::equal(data.begin(), data.end(), out.begin())) return 1;
      std::printf("%-8.8s %5d %9zu %9.1f %9.1f %9.1f %9.1f %8.2f %8.2f %8.2f\n", corpus, level,
                  packed.size(), mbps[0], mbps[1], mbps[2], mbps[3], mbps[0] / mbps[1],
                  mbps[0] / mbps[2], mbps[0] / mbps[3]);
      std::fflush(stdout);
      min_vs_zlib = std::min(min_vs_zlib, mbps[0] / mbps[1]);
      if (std::strcmp(corpus, "text.bin") == 0 && level == 6) text6_vs_libdeflate = mbps[0] / mbps[2];
    }
  }
  uint32_t unpacked = 0;
  std::vector<uint8_t> d64 = FirstItemStream(ReadFile(dir + "/text.d64.zip"), unpacked);
  std::vector<uint8_t> out(unpacked + 64);
  double d64_mbps = Measure({[&] { return Ours(d64, out, unpacked, true); }}, unpacked, rounds)[0];
  std::printf("Deflate64 (7-Zip, text): %.1f MB/s\n", d64_mbps);
  libdeflate_free_decompressor(ld);
  std::printf("RESULT inflate min_vs_zlib=%.2f text6_vs_libdeflate=%.2f deflate64=%.0f\n",
              min_vs_zlib, text6_vs_libdeflate, d64_mbps);
  return 0;
}
