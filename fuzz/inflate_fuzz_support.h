// What the Inflate fuzz targets share: a source that hands out the stream a
// few bytes per read, so that every refill path of the bit reader runs, not
// only the one that finds the whole input at once; and one that lends its
// memory instead, a few bytes at a time too.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
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

// Lends at most step bytes per ReadInPlace, each time in a fresh copy that
// the next call frees, so that AddressSanitizer sees a reader that keeps
// lent memory too long.
class LendingStream : public TMemoryStream {
 public:
  LendingStream(std::vector<uint8_t> data, int32_t step)
      : TMemoryStream(std::move(data)), step_(step) {}
  int32_t ReadInPlace(const uint8_t*& data, int32_t count, int64_t) override {
    lent_.reset();
    const int64_t left = Size() - Position();
    const int64_t n = std::max<int64_t>(0, std::min<int64_t>(std::min(count, step_), left));
    lent_ = std::make_unique<uint8_t[]>(static_cast<size_t>(n) + 1);
    if (n > 0) std::memcpy(lent_.get(), Data().data() + Position(), static_cast<size_t>(n));
    TMemoryStream::Seek(n, soFromCurrent);
    data = lent_.get();
    return static_cast<int32_t>(n);
  }
  int32_t Read(void* buffer, int32_t count) override {
    lent_.reset();
    return TMemoryStream::Read(buffer, count);
  }
  int64_t Seek(int64_t offset, uint16_t origin) override {
    if (offset != 0 || origin != soFromCurrent) lent_.reset();
    return TMemoryStream::Seek(offset, origin);
  }

 private:
  int32_t step_;
  std::unique_ptr<uint8_t[]> lent_;
};

}  // namespace velmora::fuzz
