#include "archive/inflate/output_window.h"

#include <algorithm>
#include <cstring>

#include "archive/checksum/crc32.h"
#include "archive/checksum/crc32_fold.h"
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
// Memory is borrowed for outputs of at least this many times the room above.
constexpr int64_t kLendingRooms = 64;
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
                                     int32_t output_limit, bool use_crc32, bool deflate64,
                                     int64_t known_size)
    : loop_crc_(use_crc32 && Crc32LoopFoldAvailable()),
      log_(log),
      output_limit_(output_limit),
      history_(deflate64 ? kDeflate64MaxDistance : kDeflateMaxDistance),
      dest_(dest),
      known_size_(known_size),
      test_only_(test_only),
      crc32_(use_crc32) {
  limit_write_point_ = deflate64 ? 98304 : 65536;
  if (output_limit_ > limit_write_point_) output_limit_ = limit_write_point_;
  max_match_ = deflate64 ? kDeflate64MaxMatch : kDeflateMaxMatch;
  // A limited preview goes through the careful path anyway, and leaves most
  // of the memory unused. Lent memory has no room behind it, so its last
  // longest match and overshoot go through the careful path too: for small
  // outputs that costs more than the copy it saves.
  uint8_t* lent = nullptr;
  if (!test_only_ && output_limit_ <= 0 && known_size_ >= kLendingRooms * (max_match_ + kOvershoot))
    lent = dest_->DirectWriteBlock(known_size_);
  if (lent != nullptr) {
    start_ = out_ = pending_ = uncommitted_ = lent;
    direct_end_ = write_point_ = lent + known_size_;
  } else {
    const size_t size = static_cast<size_t>(history_) + kSlideSpan + max_match_ + kOvershoot;
    buffer_.reset(new uint8_t[size]);
    start_ = out_ = pending_ = buffer_.get();
    write_point_ = buffer_.get() + history_ + kSlideSpan;
  }
  crc_.next = out_;
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
  if (!crc32_) {
    adler_ = UpdateAdler32(adler_, from, static_cast<size_t>(count));
  } else if (!loop_crc_ || out_ - crc_.next > kSlideSpan) {
    // Taken while the block is still in cache; where the hot loop folds,
    // only once it has fallen this far behind.
    TakeCrc();
  }
  if (direct_end_ != nullptr) return;  // committed as a whole, at the end
  if (!test_only_) return dest_->WriteBuffer(from, count);
  // Past the known size the destination decides: it may hold the output
  // to that size.
  int32_t past = 0;
  if (known_size_ >= 0 && counted_ + count > known_size_)
    past = static_cast<int32_t>(std::min<int64_t>(count, counted_ + count - known_size_));
  if (past > 0) dest_->WriteBuffer(to - past, past);
  counted_ += count;
}

void TAbDfOutputWindow::TakeCrc() {
  if (!crc32_) return;
  if (crc_.started) {
    crc_.running = Crc32OfFoldAccumulator(crc_.accumulator);
    crc_.started = false;
  }
  // In pieces the 32-bit count takes: lent memory may be larger.
  constexpr int64_t kPiece = int64_t{1} << 30;
  while (crc_.next != out_) {
    const int64_t count = std::min<int64_t>(out_ - crc_.next, kPiece);
    UpdateCrc32Buffer(crc_.running, crc_.next, static_cast<int32_t>(count));
    crc_.next += count;
  }
}

void TAbDfOutputWindow::PassOnPending() {
  uint8_t* from = pending_;
  pending_ = out_;
  PassOnRange(from, out_);
}

void TAbDfOutputWindow::PassOn() {
  PassOnPending();
  CommitLent();
}

void TAbDfOutputWindow::CommitLent() {
  if (direct_end_ == nullptr || out_ == uncommitted_) return;
  TakeCrc();  // lent memory is not ours to read once committed
  const int64_t count = out_ - uncommitted_;
  uncommitted_ = out_;
  dest_->CommitDirect(count);
}

void TAbDfOutputWindow::SetBlockEnd() {
  pass_on_at_ = write_point_ - pending_ > kPassOnBlock ? pending_ + kPassOnBlock : write_point_;
  // With a limit every symbol goes through the careful path, which counts
  // toward it; limits are for short previews, where speed does not matter.
  fast_end_ = output_limit_ > 0 ? start_ : pass_on_at_;
  // Lent memory has no room behind it for the hot loop's longest match and
  // its overshoot: its last bytes are written by the careful path.
  if (direct_end_ != nullptr) {
    const int64_t room_needed = max_match_ + kOvershoot;
    fast_end_ = direct_end_ - start_ > room_needed ? std::min(fast_end_, direct_end_ - room_needed)
                                                   : start_;
  }
}

void TAbDfOutputWindow::PassOnBlock() {
  // Lent memory is left only when output runs past it (LeaveDirect), not
  // when it is exactly full, as it is at the end of every item.
  if (out_ >= write_point_ && direct_end_ == nullptr) {
    Slide();
  } else {
    PassOnPending();
    SetBlockEnd();
  }
}

void TAbDfOutputWindow::Slide() {
  PassOnPending();
  TakeCrc();
  std::memmove(buffer_.get(), out_ - history_, static_cast<size_t>(history_));
  out_ = pending_ = buffer_.get() + history_;
  crc_.next = out_;
  SetBlockEnd();
}

void TAbDfOutputWindow::LeaveDirect() {
  const int32_t kept = static_cast<int32_t>(std::min<int64_t>(history_, out_ - start_));
  const size_t size = static_cast<size_t>(history_) + kSlideSpan + max_match_ + kOvershoot;
  buffer_.reset(new uint8_t[size]);
  std::memcpy(buffer_.get(), out_ - kept, static_cast<size_t>(kept));
  PassOn();  // the lent memory is given back here
  direct_end_ = nullptr;
  start_ = buffer_.get();
  out_ = pending_ = buffer_.get() + kept;
  crc_.next = out_;
  write_point_ = buffer_.get() + history_ + kSlideSpan;
  SetBlockEnd();
}

void TAbDfOutputWindow::PutLiteral(uint8_t value) {
  if (out_ == direct_end_) LeaveDirect();
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
    if (out_ == direct_end_) LeaveDirect();
    int32_t n = static_cast<int32_t>(std::min<int64_t>(count, pass_on_at_ - out_));
    std::memcpy(out_, in, static_cast<size_t>(n));
    out_ += n;
    in += n;
    count -= n;
    SlideIfFull();
  }
}

void TAbDfOutputWindow::PutMatch(int32_t length, int32_t distance) {
  if (distance > out_ - start_) RaiseInflateCause(inflate_cause::kDistanceTooFar);
  if (direct_end_ != nullptr && length > direct_end_ - out_) LeaveDirect();
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
  TakeCrc();
  return crc32_ ? ~crc_.running : adler_;
}

int64_t TAbDfOutputWindow::OutputPosition() {
  const int64_t buffered = out_ - (direct_end_ != nullptr ? uncommitted_ : pending_);
  return test_only_ ? counted_ + buffered : dest_->Position() + buffered;
}

}  // namespace velmora
