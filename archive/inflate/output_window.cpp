#include "archive/inflate/output_window.h"

#include <algorithm>
#include <cstring>

#include "archive/checksum/crc32.h"
#include "archive/inflate/inflate_errors.h"
#include "archive/inflate/inflate_tables.h"

namespace velmora {

namespace {
// Bytes passed on at a time (small enough that they are still in the
// second-level cache when checksummed and written), and produced between two
// slides; the history kept is the format's largest distance.
constexpr int32_t kPassOnBlock = 1 << 18;
constexpr int32_t kSlideSpan = 4 * kPassOnBlock;
// Room behind the longest match for word copies that run past its end.
constexpr int32_t kOvershoot = 64;
constexpr uint32_t kAdlerBase = 65521;  // largest prime below 2^16 (RFC 1950)
}  // namespace

uint32_t UpdateAdler32(uint32_t adler, const uint8_t* data, size_t count) {
  uint32_t a = adler & 0xFFFF, b = adler >> 16;
  while (count > 0) {
    // 4,096 bytes keep both sums below 2^32 before they are reduced.
    size_t run = std::min<size_t>(count, 4096);
    for (size_t i = 0; i < run; ++i) {
      a += data[i];
      b += a;
    }
    a %= kAdlerBase;
    b %= kAdlerBase;
    data += run;
    count -= run;
  }
  return (b << 16) | a;
}

TAbDfOutputWindow::TAbDfOutputWindow(TStream* dest, TAbLogger* log, bool test_only,
                                     int32_t output_limit, bool use_crc32, bool deflate64)
    : checksum_(use_crc32 ? 0xFFFFFFFFu : 1u),
      log_(log),
      output_limit_(output_limit),
      history_(deflate64 ? kDeflate64MaxDistance : kDeflateMaxDistance),
      dest_(dest),
      test_only_(test_only),
      crc32_(use_crc32) {
  limit_write_point_ = deflate64 ? 98304 : 65536;
  if (output_limit_ > limit_write_point_) output_limit_ = limit_write_point_;
  const int32_t max_match = deflate64 ? kDeflate64MaxMatch : kDeflateMaxMatch;
  const size_t size = static_cast<size_t>(history_) + kSlideSpan + max_match + kOvershoot;
  buffer_.reset(new uint8_t[size]);
  out_ = pending_ = buffer_.get();
  write_point_ = buffer_.get() + history_ + kSlideSpan;
  SetBlockEnd();
  (void)log_;
}

TAbDfOutputWindow::~TAbDfOutputWindow() {
  try {
    PassOn();
  } catch (...) {
    // Reported by the caller's own PassOn when it matters.
  }
}

void TAbDfOutputWindow::ThrowLimit() { throw EAbPartSizedInflate(); }

void TAbDfOutputWindow::PassOnRange(const uint8_t* from, const uint8_t* to) {
  const int32_t count = static_cast<int32_t>(to - from);
  if (count <= 0) return;
  if (crc32_) {
    UpdateCrc32Buffer(checksum_, from, count);
  } else {
    checksum_ = UpdateAdler32(checksum_, from, static_cast<size_t>(count));
  }
  if (test_only_) {
    counted_ += count;
  } else {
    dest_->WriteBuffer(from, count);
  }
}

void TAbDfOutputWindow::PassOn() {
  uint8_t* from = pending_;
  pending_ = out_;
  PassOnRange(from, out_);
}

void TAbDfOutputWindow::SetBlockEnd() {
  pass_on_at_ = write_point_ - pending_ > kPassOnBlock ? pending_ + kPassOnBlock : write_point_;
  // With a limit every symbol goes through the careful path, which counts
  // toward it; limits are for short previews, where speed does not matter.
  fast_end_ = output_limit_ > 0 ? buffer_.get() : pass_on_at_;
}

void TAbDfOutputWindow::PassOnBlock() {
  if (out_ >= write_point_) {
    Slide();
  } else {
    PassOn();
    SetBlockEnd();
  }
}

void TAbDfOutputWindow::Slide() {
  PassOn();
  std::memmove(buffer_.get(), out_ - history_, static_cast<size_t>(history_));
  out_ = pending_ = buffer_.get() + history_;
  SetBlockEnd();
}

void TAbDfOutputWindow::PutLiteral(uint8_t value) {
  *out_++ = value;
  AddAndCheckLimit(1);
  SlideIfFull();
}

void TAbDfOutputWindow::PutBytes(const void* data, int32_t count) {
  const auto* in = static_cast<const uint8_t*>(data);
  // Stored data is not checked against the limit, only counted.
  for (int32_t left = count; left > 0;) {
    if (limit_fill_ >= limit_write_point_) limit_fill_ -= kLimitSlide;
    int32_t n = std::min(left, limit_write_point_ - limit_fill_);
    limit_fill_ += n;
    left -= n;
  }
  SlideIfFull();
  while (count > 0) {
    int32_t n = static_cast<int32_t>(std::min<int64_t>(count, pass_on_at_ - out_));
    std::memcpy(out_, in, static_cast<size_t>(n));
    out_ += n;
    in += n;
    count -= n;
    SlideIfFull();
  }
}

void TAbDfOutputWindow::PutMatch(int32_t length, int32_t distance) {
  if (distance > out_ - buffer_.get()) RaiseInflateCause(inflate_cause::kDistanceTooFar);
  const uint8_t* from = out_ - distance;
  if (length <= distance) {
    std::memcpy(out_, from, static_cast<size_t>(length));
  } else {
    // Overlapping: front to back, so the last distance bytes repeat.
    for (int32_t i = 0; i < length; ++i) out_[i] = from[i];
  }
  out_ += length;
  AddAndCheckLimit(length);
  SlideIfFull();
}

uint32_t TAbDfOutputWindow::ChecksumValue() {
  PassOn();
  return crc32_ ? ~checksum_ : checksum_;
}

int64_t TAbDfOutputWindow::OutputPosition() {
  const int64_t buffered = out_ - pending_;
  return test_only_ ? counted_ + buffered : dest_->Position() + buffered;
}

}  // namespace velmora
