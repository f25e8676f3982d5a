// Small helpers shared by the inflate tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/inflate/inflate_errors.h"
#include "rtl/exceptions.h"
#include "rtl/stream.h"

namespace velmora::inflate_test {

// Runs action and expects EAbInternalInflateError with exactly cause.
inline void ExpectCause(const std::function<void()>& action, const std::string& cause) {
  try {
    action();
    ADD_FAILURE() << "no error; expected " << cause;
  } catch (const EAbInternalInflateError& e) {
    EXPECT_EQ(e.Message(), cause);
  }
}

// Runs action and expects the assertion error whose text is
// "message (unit, line N)".
inline void ExpectAssertion(const std::function<void()>& action, const std::string& text) {
  try {
    action();
    ADD_FAILURE() << "no assertion; expected " << text;
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message(), text);
  }
}

// A memory stream that hands out at most `step` bytes per Read, as a pipe
// or a slow device may.
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

// A memory stream that lends its bytes (ReadInPlace), at most `step` at a
// time, each time in a fresh copy that the next call on the stream frees:
// under AddressSanitizer a reader that keeps lent memory too long fails.
class LendingStream : public TMemoryStream {
 public:
  LendingStream(std::vector<uint8_t> data, int32_t step)
      : TMemoryStream(std::move(data)), step_(step) {}
  int32_t ReadInPlace(const uint8_t*& data, int32_t count, int64_t) override {
    lent_.reset();
    const int64_t n = std::clamp<int64_t>(std::min(count, step_), 0, Size() - Position());
    lent_ = std::make_unique<uint8_t[]>(static_cast<size_t>(std::max<int64_t>(n, 1)));
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

}  // namespace velmora::inflate_test
