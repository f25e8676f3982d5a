// Sources that hand out their bytes the way slow or lending streams do, so
// that a reader's every refill path runs, not only the one that finds the
// whole input at once. Header-only: the fuzz targets use them too.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "rtl/stream.h"

namespace velmora::test {

// Hands out at most `step` bytes per Read, as a pipe or a slow device may.
class TrickleStream : public TMemoryStream {
 public:
  TrickleStream(std::vector<uint8_t> data, int32_t step)
      : TMemoryStream(std::move(data)), step_(step) {}
  int32_t Read(void* buffer, int32_t count) override {
    return TMemoryStream::Read(buffer, std::min(count, step_));
  }

 private:
  int32_t step_;
};

// Lends its bytes (ReadInPlace), at most `step` at a time, each time in a
// fresh copy that the next call on the stream frees: under AddressSanitizer
// a reader that keeps lent memory too long fails.
class LendingStream : public TMemoryStream {
 public:
  LendingStream(std::vector<uint8_t> data, int32_t step)
      : TMemoryStream(std::move(data)), step_(step) {}
  int32_t ReadInPlace(const uint8_t*& data, int32_t count, int64_t) override {
    lent_.reset();
    const int64_t n = std::clamp<int64_t>(std::min(count, step_), 0, Size() - Position());
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

}  // namespace velmora::test
