// What the fuzz targets of the newer methods share: one decoding of
// arbitrary bytes as an item of a method, into a sink that checks the
// decoder's promises. The engine's own errors (EAbException, the clear
// failures we want) end a run quietly; anything else, more output than
// declared or a read past the packed data crashes the target.
//
// Input: two bytes of declared size (little endian, up to 64 KiB less one),
// then the packed data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "archive/base/exceptions.h"
#include "archive/methods/methods.h"

namespace velmora::fuzz {

// Counts what is written and forgets it, so large outputs cost no memory.
class CountingSink : public TStream {
 public:
  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void*, int32_t count) override {
    written += count;
    return count;
  }
  int64_t Seek(int64_t, uint16_t) override { return written; }
  int64_t written = 0;
};

inline void DecodeAsMethod(uint16_t method, const uint8_t* data, size_t size) {
  if (size < 2) return;
  const int64_t declared = data[0] | (data[1] << 8);
  // The packed data sits between other bytes, as in an archive.
  std::vector<uint8_t> archive(data + 2, data + size);
  const auto packed_size = static_cast<int64_t>(archive.size());
  archive.insert(archive.end(), 16, 0xA5);
  TMemoryStream source(std::move(archive));
  CountingSink sink;
  TAbMethodJob job;
  job.Source = &source;
  job.PackedSize = packed_size;
  job.Destination = &sink;
  job.UnpackedSize = declared;
  job.MaxWrite = 4096;
  try {
    DecodeMethodData(method, job);
  } catch (const EAbException&) {
  }
  if (sink.written > declared || source.Position() > packed_size) std::abort();
}

}  // namespace velmora::fuzz
