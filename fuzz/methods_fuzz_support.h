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
#include <string>
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
  int64_t Size() override { return written; }
  int64_t written = 0;
};

// Decodes the packed data of one fuzz input (see above) on the given
// threads into sink; returns the error text, "" when it decoded. Aborts
// when the decoder wrote more than declared or read past the packed data.
template <typename Sink>
std::string DecodeInputInto(uint16_t method, const uint8_t* data, size_t size, int32_t threads,
                            Sink& sink) {
  const int64_t declared = data[0] | (data[1] << 8);
  // The packed data sits between other bytes, as in an archive.
  std::vector<uint8_t> archive(data + 2, data + size);
  const auto packed_size = static_cast<int64_t>(archive.size());
  archive.insert(archive.end(), 16, 0xA5);
  TMemoryStream source(std::move(archive));
  TAbMethodJob job;
  job.Source = &source;
  job.PackedSize = packed_size;
  job.Destination = &sink;
  job.UnpackedSize = declared;
  job.MaxWrite = 4096;
  job.Threads = threads;
  std::string error;
  try {
    DecodeMethodData(method, job);
  } catch (const EAbException& e) {
    error = e.Message();
    if (error.empty()) error = "(no text)";
  }
  if (sink.Size() > declared || source.Position() > packed_size) std::abort();
  return error;
}

inline void DecodeAsMethod(uint16_t method, const uint8_t* data, size_t size) {
  if (size < 2) return;
  CountingSink sink;
  DecodeInputInto(method, data, size, 0, sink);
}

}  // namespace velmora::fuzz
