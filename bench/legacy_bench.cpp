// Expansion speed of the legacy methods (shrink, reduce, implode) on 4 MiB
// of mixed text and binary, packed by the test-side encoders. zlib's inflate
// of the same data runs alongside as a yardstick. The machines are shared
// and noisy, so every contender runs once per round, round after round, and
// each one's median is reported, in MB/s of output.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "archive/legacy/unzip_helper.h"
#include "rtl/stream.h"

// The test-side encoders make the input.
#include "tests/support/implode_encoder.h"
#include "tests/support/reduce_encoder.h"
#include "tests/support/shrink_encoder.h"

namespace {

constexpr size_t kDataSize = size_t{4} << 20;
constexpr int kRounds = 11;

std::vector<uint8_t> MixedData() {
  static const char* const kWords[] = {"archive ", "the ", "of ", "window ", "tree ", "code ",
                                       "and ",     "byte ", "length ", "distance ", "zip\n",
                                       "Velmora ", "a ",   "is ",  "to ",  "in "};
  std::vector<uint8_t> out;
  uint32_t x = 12345;
  while (out.size() < kDataSize) {
    // 48 KiB of text, then 16 KiB of binary with short repeats.
    for (int i = 0; i < 6000 && out.size() < kDataSize; ++i) {
      x = x * 1103515245u + 12345u;
      for (const char* p = kWords[(x >> 16) % 16]; *p; ++p) out.push_back(static_cast<uint8_t>(*p));
    }
    for (int i = 0; i < 16384 && out.size() < kDataSize; ++i) {
      x = x * 1664525u + 1013904223u;
      out.push_back((x >> 29) < 2 && out.size() > 300 ? out[out.size() - 1 - (x >> 8) % 300]
                                                     : static_cast<uint8_t>(x >> 13));
    }
  }
  out.resize(kDataSize);
  return out;
}

struct Contender {
  std::string name;
  std::vector<uint8_t> packed;
  std::function<uint32_t(const std::vector<uint8_t>&, velmora::TMemoryStream&)> expand;
  std::vector<double> mbps;
};

uint32_t ExpandLegacy(const std::vector<uint8_t>& packed, velmora::TMemoryStream& output,
                      uint8_t method, bool dictionary_8k, bool three_trees) {
  velmora::TMemoryStream source(packed);
  output.Clear();  // keeps the capacity: no reallocation inside the timing
  velmora::TAbUnzipHelper helper(&source, nullptr, &output);
  helper.Method = method;
  helper.PackedSize = static_cast<uint32_t>(packed.size());
  helper.UnpackedSize = static_cast<int32_t>(kDataSize);
  helper.ImplodeDictionary =
      dictionary_8k ? velmora::kImplodeDictionary8K : velmora::kImplodeDictionary4K;
  helper.ImplodeTreeCount = three_trees ? 3 : 2;
  return helper.Execute();
}

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data) {
  uLongf size = compressBound(data.size());
  std::vector<uint8_t> out(size);
  compress2(out.data(), &size, data.data(), data.size(), 6);
  out.resize(size);
  return out;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main() {
  using namespace velmora::testing;
  const std::vector<uint8_t> data = MixedData();
  uint32_t crc = 0xFFFFFFFFu;
  velmora::UpdateCrc32Buffer(crc, data.data(), static_cast<int32_t>(data.size()));
  crc = ~crc;

  std::vector<Contender> contenders;
  contenders.push_back({"shrink", EncodeShrink(data),
                        [](auto& p, auto& o) { return ExpandLegacy(p, o, 1, false, false); }, {}});
  for (int factor = 1; factor <= 4; ++factor) {
    contenders.push_back({"reduce" + std::to_string(factor), EncodeReduce(data, factor),
                          [factor](auto& p, auto& o) {
                            return ExpandLegacy(p, o, static_cast<uint8_t>(factor + 1), false, false);
                          },
                          {}});
  }
  for (bool d8 : {false, true}) {
    for (bool t3 : {false, true}) {
      contenders.push_back({std::string("implode") + (d8 ? "-8K" : "-4K") + (t3 ? "-3trees" : "-2trees"),
                            EncodeImplode(data, {d8, t3}),
                            [d8, t3](auto& p, auto& o) { return ExpandLegacy(p, o, 6, d8, t3); },
                            {}});
    }
  }
  contenders.push_back({"zlib-inflate", Deflate(data),
                        [](auto& p, auto& o) {
                          o.SetSize(kDataSize);
                          uLongf size = kDataSize;
                          uncompress(o.Data().data(), &size, p.data(), p.size());
                          return static_cast<uint32_t>(crc32(0, o.Data().data(), size));
                        },
                        {}});

  velmora::TMemoryStream output;
  output.SetSize(kDataSize);
  for (int round = 0; round < kRounds; ++round) {
    for (Contender& c : contenders) {
      const auto start = std::chrono::steady_clock::now();
      const uint32_t got = c.expand(c.packed, output);
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (got != crc) {
        std::fprintf(stderr, "%s: wrong CRC %08x, expected %08x\n", c.name.c_str(), got, crc);
        return 1;
      }
      c.mbps.push_back(kDataSize / 1e6 / seconds);
    }
  }
  std::printf("%-20s %10s %10s\n", "method", "ratio", "MB/s");
  for (const Contender& c : contenders) {
    std::printf("%-20s %9.1f%% %10.1f\n", c.name.c_str(), 100.0 * c.packed.size() / kDataSize,
                Median(c.mbps));
  }
  auto median_of = [&](const std::string& prefix) {
    std::vector<double> all;
    for (const Contender& c : contenders) {
      if (c.name.rfind(prefix, 0) == 0) all.push_back(Median(c.mbps));
    }
    return Median(all);
  };
  std::printf("RESULT legacy shrink=%.1f reduce=%.1f implode=%.1f\n", median_of("shrink"),
              median_of("reduce"), median_of("implode"));
  return 0;
}
