// What the Inflate fuzz targets share: a source that hands out the stream a
// few bytes per read, so that every refill path of the bit reader runs, not
// only the one that finds the whole input at once.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "rtl/stream.h"

namespace velmora::fuzz {

class TrickleStream : public TMemoryStream {
 public:
  TrickleStream(std::vector<uint8_t> data, int32_t step)
      : TMemoryStream(std::move(data)), step_(step) {}
  int32_t Read(void* buffer, int32_t count) override {
    return TMemoryStream::Read(buffer, count < step_ ? count : step_);
  }

 private:
  int32_t step_;
};

}  // namespace velmora::fuzz
