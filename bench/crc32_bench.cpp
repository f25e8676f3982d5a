// CRC-32 throughput of ours against zlib, libdeflate and isa-l on one 64 MiB
// buffer. The machines are shared and noisy, so the four run interleaved,
// round after round, and each one's median is reported.
#include <isa-l/crc.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

#include "archive/checksum/crc32.h"

namespace {

constexpr size_t kBufferSize = size_t{64} << 20;
constexpr int kRounds = 21;

struct Contender {
  const char* name;
  std::function<uint32_t(const uint8_t*, size_t)> crc;
  std::vector<double> gbps;
};

uint32_t Ours(const uint8_t* data, size_t length) {
  uint32_t running = 0xFFFFFFFF;
  // The engine's count is 32-bit signed; feed it in 1 GiB pieces at most.
  while (length > 0) {
    size_t piece = std::min<size_t>(length, size_t{1} << 30);
    velmora::UpdateCrc32Buffer(running, data, static_cast<int32_t>(piece));
    data += piece;
    length -= piece;
  }
  return ~running;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main() {
  std::vector<uint8_t> buffer(kBufferSize);
  std::mt19937_64 rng(42);
  for (size_t i = 0; i + 8 <= buffer.size(); i += 8) {
    uint64_t v = rng();
    std::copy_n(reinterpret_cast<const uint8_t*>(&v), 8, buffer.data() + i);
  }

  std::vector<Contender> contenders = {
      {"ours", Ours, {}},
      {"zlib",
       [](const uint8_t* d, size_t n) {
         return static_cast<uint32_t>(crc32_z(0, d, n));
       },
       {}},
      {"libdeflate", [](const uint8_t* d, size_t n) { return libdeflate_crc32(0, d, n); }, {}},
      {"isal",
       [](const uint8_t* d, size_t n) {
         return crc32_gzip_refl(0, d, static_cast<uint64_t>(n));
       },
       {}},
  };

  // One warm-up pass each, which also checks that all four agree.
  const uint32_t expected = contenders[1].crc(buffer.data(), buffer.size());
  for (auto& c : contenders) {
    uint32_t got = c.crc(buffer.data(), buffer.size());
    if (got != expected) {
      std::fprintf(stderr, "%s gives %08x, zlib %08x\n", c.name, got, expected);
      return 1;
    }
  }

  volatile uint32_t sink = 0;
  for (int round = 0; round < kRounds; ++round) {
    for (auto& c : contenders) {
      auto start = std::chrono::steady_clock::now();
      sink = sink ^ c.crc(buffer.data(), buffer.size());
      std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      c.gbps.push_back(static_cast<double>(kBufferSize) / took.count() / 1e9);
    }
  }

  std::printf("CRC-32 of %zu MiB, median of %d interleaved rounds (CRC %08x)\n",
              kBufferSize >> 20, kRounds, expected);
  const double ours = Median(contenders[0].gbps);
  for (auto& c : contenders) {
    double m = Median(c.gbps);
    auto [lo, hi] = std::minmax_element(c.gbps.begin(), c.gbps.end());
    std::printf("  %-10s %7.2f GB/s  (min %.2f, max %.2f)  ours/this %.2f\n", c.name, m, *lo,
                *hi, ours / m);
  }
  std::printf("RESULT crc32 ours=%.2f zlib=%.2f libdeflate=%.2f isal=%.2f\n", ours,
              Median(contenders[1].gbps), Median(contenders[2].gbps),
              Median(contenders[3].gbps));
  return 0;
}
