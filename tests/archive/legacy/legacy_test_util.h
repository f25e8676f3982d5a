// What the legacy decoder tests share: running one expansion over memory
// streams, sample data of the kinds the tests round-trip, and the CRC the
// output should have.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/checksum/crc32.h"
#include "archive/crypt/zdecoder.h"
#include "archive/legacy/unzip_helper.h"
#include "rtl/stream.h"

namespace velmora::legacy_test {

struct ExpandSettings {
  uint8_t method = 1;
  int32_t unpacked_size = 0;
  uint8_t dictionary = kImplodeDictionary8K;
  uint8_t trees = 3;
  TAbProgressEvent on_progress;
};

inline ExpandSettings ShrinkSettings(int32_t unpacked_size = 0) {
  ExpandSettings s;
  s.method = 1;
  s.unpacked_size = unpacked_size;
  return s;
}

inline ExpandSettings ReduceSettings(int factor, int32_t unpacked_size = 0) {
  ExpandSettings s;
  s.method = static_cast<uint8_t>(factor + 1);
  s.unpacked_size = unpacked_size;
  return s;
}

inline ExpandSettings ImplodeSettings(bool dictionary_8k, bool three_trees,
                                      int32_t unpacked_size = 0) {
  ExpandSettings s;
  s.method = 6;
  s.dictionary = dictionary_8k ? kImplodeDictionary8K : kImplodeDictionary4K;
  s.trees = three_trees ? 3 : 2;
  s.unpacked_size = unpacked_size;
  return s;
}

struct Expansion {
  std::vector<uint8_t> output;
  uint32_t crc = 0;
};

inline Expansion ExpandBytes(const std::vector<uint8_t>& packed, const ExpandSettings& s,
                             TAbZDecoder* decoder = nullptr, TStream* archive = nullptr) {
  TMemoryStream source(packed);
  TMemoryStream output;
  TAbUnzipHelper helper(archive ? archive : &source, decoder, &output);
  helper.Method = s.method;
  helper.PackedSize = static_cast<uint32_t>(archive ? archive->Size() : packed.size());
  helper.UnpackedSize = s.unpacked_size;
  helper.ImplodeDictionary = s.dictionary;
  helper.ImplodeTreeCount = s.trees;
  helper.OnProgress = s.on_progress;
  Expansion e;
  e.crc = helper.Execute();
  e.output = output.Data();
  return e;
}

inline uint32_t CrcOf(const std::vector<uint8_t>& data) {
  uint32_t crc = 0xFFFFFFFFu;
  UpdateCrc32Buffer(crc, data.data(), static_cast<int32_t>(data.size()));
  return ~crc;
}

inline std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

// English-like text with a small vocabulary: long repeats at all distances.
inline std::vector<uint8_t> SampleText(size_t size, uint32_t seed = 1) {
  static const char* const kWords[] = {
      "archive", "the",   "of",     "shrink", "reduce", "implode", "window", "tree",
      "code",    "and",   "follow", "byte",   "length", "distance", "a",     "is",
      "VELMORA", "zip",   "data\n", "ratio",  "144",    "\x90",     "to",    "in"};
  std::vector<uint8_t> out;
  uint32_t x = seed;
  while (out.size() < size) {
    x = x * 1103515245u + 12345u;
    const char* w = kWords[(x >> 16) % (sizeof kWords / sizeof kWords[0])];
    for (const char* p = w; *p && out.size() < size; ++p) out.push_back(static_cast<uint8_t>(*p));
    if (out.size() < size) out.push_back((x >> 8) % 7 == 0 ? '.' : ' ');
  }
  return out;
}

// Bytes with structure a compressor finds only in places: random bytes
// with short copied runs.
inline std::vector<uint8_t> SampleBinary(size_t size, uint32_t seed = 7) {
  std::vector<uint8_t> out;
  uint32_t x = seed;
  while (out.size() < size) {
    x = x * 1664525u + 1013904223u;
    if ((x >> 28) < 3 && out.size() > 64) {
      const size_t back = 1 + (x >> 4) % std::min<size_t>(out.size(), 8000);
      const size_t run = 2 + (x >> 20) % 40;
      for (size_t k = 0; k < run && out.size() < size; ++k) out.push_back(out[out.size() - back]);
    } else {
      out.push_back(static_cast<uint8_t>(x >> 13));
    }
  }
  return out;
}

// Long runs of one byte and of a short pattern.
inline std::vector<uint8_t> SampleRepetitive(size_t size) {
  std::vector<uint8_t> out;
  while (out.size() < size) {
    const size_t block = out.size() / 5000;
    for (size_t k = 0; k < 5000 && out.size() < size; ++k) {
      out.push_back(block % 2 ? static_cast<uint8_t>("abc"[k % 3]) : static_cast<uint8_t>(block));
    }
  }
  return out;
}

}  // namespace velmora::legacy_test
