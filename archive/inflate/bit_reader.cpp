#include "archive/inflate/bit_reader.h"

#include <algorithm>

#include "archive/inflate/inflate_errors.h"
#include "archive/inflate/inflate_tables.h"
#include "rtl/exceptions.h"

namespace velmora {

namespace {
// Unit name and lines the assertion texts carry.
constexpr const char* kUnit = "AbDfStrm";

// numerator / denominator rounded to the nearest integer, halves to even.
int32_t RoundedPercent(int64_t numerator, int64_t denominator) {
  int64_t q = numerator / denominator;
  int64_t twice_rest = 2 * (numerator - q * denominator);
  if (twice_rest > denominator || (twice_rest == denominator && (q & 1))) ++q;
  return static_cast<int32_t>(q);
}
}  // namespace

TAbDfInBitStream::TAbDfInBitStream(TStream* source, int64_t source_size,
                                   TAbProgressPercentEvent on_progress)
    : buffer_(new uint8_t[kFront + kBufferSize + kBack]), source_(source) {
  Assert(source != nullptr,
         "TAbDfInBitStream.Create: Cannot create a bit stream wrapping a nil stream", kUnit, 221);
  if (on_progress && source_size > 0) {
    on_progress_ = std::move(on_progress);
    source_size_ = source_size;
  }
  // Only the front is read before the first fill, which clears what it
  // leaves behind the data.
  std::memset(buffer_.get(), 0, kFront);
  uint8_t* start = buffer_.get() + kFront;
  end_ = word_end_ = in_ = start;
  stream_offset_of_buffer_ = -kFront;
}

TAbDfInBitStream::~TAbDfInBitStream() {
  try {
    Release();
  } catch (...) {
    // A destructor cannot report; Inflate releases explicitly.
  }
}

void TAbDfInBitStream::Release() {
  if (released_) return;
  released_ = true;
  lent_left_ = 0;  // read from the source all the same: given back below
  // A byte of which some bits were used counts as consumed; zeros appended
  // after the source's end were never in the source.
  int64_t consumed = stream_offset_of_buffer_ + (BitPosition() + 7) / 8;
  int64_t unconsumed = std::max<int64_t>(0, real_bytes_ - consumed);
  source_->Seek(source_->Position() - unconsumed, soFromBeginning);
}

void TAbDfInBitStream::Reseat(int64_t bit_position) {
  in_ = buffer_.get() + bit_position / 8;
  bitbuf_ = 0;
  bitsleft_ = 0;
  Ensure(8);
  Consume(static_cast<uint32_t>(bit_position % 8));
}

bool TAbDfInBitStream::FillBuffer(int32_t carried) {
  uint8_t* base = buffer_.get();
  uint8_t* start = base + kFront;
  const int64_t position = BitPosition();
  const int64_t keep_from = position / 8;
  const uint8_t* words_end = end_ - carried;
  if (carried < 0 || carried >= 4)
    Assert(false, "TAbDfInBitStream.ibsFillBuffer: the buffer should be almost empty", kUnit,
           359);
  // The bit buffer's partly used word (at most 4 bytes) goes just in front
  // of the new block, the carried bytes at its start.
  const int64_t kept = (words_end - base) - keep_from;
  uint8_t* dest = start - kept;
  std::memmove(dest, base + keep_from, static_cast<size_t>(kept + carried));
  stream_offset_of_buffer_ += keep_from - (dest - base);
  const int64_t new_position = 8 * (dest - base) + position % 8;

  uint8_t* const into = start + carried;
  int32_t placed = 0;  // bytes put into the buffer now
  if (lent_left_ > 0) {
    // The rest of the block the source lent at the last read: no read, so
    // nothing to report.
    placed = TakeLentPiece(into);
    end_ = into + placed;
    word_end_ = start + ((end_ - start) & ~int64_t{3});
    std::memset(const_cast<uint8_t*>(end_), 0, kBack);
    Reseat(new_position);
    return true;
  }
  // A source may return fewer bytes than asked without being exhausted;
  // read again so that no word is ever loaded across the end of the data.
  // Where the source lends its memory, the block that completes the read
  // is left there and copied piece by piece as the bits reach it: a small
  // item's stream takes a few hundred bytes of a block of 16,384.
  const int32_t wanted = kBufferSize - carried;
  int32_t got = 0;
  while (got < wanted) {
    int32_t n = -1;
    if (lends_) {
      const uint8_t* lent = nullptr;
      n = source_->ReadInPlace(lent, wanted - got);
      lends_ = n >= 0;
      if (n > 0 && got + n == wanted) {
        lent_ = lent;
        lent_left_ = n;
        got += n;
        placed += TakeLentPiece(into + placed);
        break;
      }
      // Copied now: the next call on the source may move the memory.
      if (n > 0) std::memcpy(into + placed, lent, static_cast<size_t>(n));
    }
    if (!lends_) n = source_->Read(into + placed, wanted - got);
    if (n <= 0) break;
    got += n;
    placed += n;
  }
  real_bytes_ += got;
  end_ = into + placed;
  if (carried + got == 0) {
    word_end_ = end_;
    std::memset(start, 0, kBack);
    Reseat(new_position);
    return false;
  }
  const int32_t held = carried + got;
  if (got == 0 && held % 4 != 0) {
    appended_zeros_ = 4 - held % 4;
    std::memset(start + held, 0, static_cast<size_t>(appended_zeros_));
    end_ += appended_zeros_;
  }
  word_end_ = start + ((end_ - start) & ~int64_t{3});
  std::memset(const_cast<uint8_t*>(end_), 0, kBack);
  Reseat(new_position);
  ReportProgress(got);
  return true;
}

int32_t TAbDfInBitStream::TakeLentPiece(uint8_t* into) {
  const int32_t n = std::min(lent_left_, next_piece_);
  if (n > 0) std::memcpy(into, lent_, static_cast<size_t>(n));
  lent_ += n;
  lent_left_ -= n;
  next_piece_ = std::min(4 * next_piece_, kBufferSize);
  return n;
}

void TAbDfInBitStream::ReportProgress(int32_t got) {
  if (!on_progress_) return;
  bytes_read_ += got;
  on_progress_(RoundedPercent(bytes_read_ * 100, source_size_));
}

uint32_t TAbDfInBitStream::ReadBit() {
  if (Reaches(1) && !FillBuffer(static_cast<int32_t>(end_ - word_end_)))
    RaiseInflateCause(inflate_cause::kReadBitNoData);
  Ensure(1);
  uint32_t bit = static_cast<uint32_t>(bitbuf_ & 1);
  Consume(1);
  return bit;
}

uint32_t TAbDfInBitStream::ReadBits(int32_t count) {
  if (count < 1 || count > 16) RaiseInflateCause(inflate_cause::kReadBitsCount);
  if (Reaches(count) && !FillBuffer(static_cast<int32_t>(end_ - word_end_)))
    RaiseInflateCause(inflate_cause::kReadBitsNoData);
  Ensure(static_cast<uint32_t>(count));
  uint32_t bits = static_cast<uint32_t>(bitbuf_) & kBitMask[count];
  Consume(static_cast<uint32_t>(count));
  return bits;
}

uint32_t TAbDfInBitStream::PeekBitsSlow(int32_t count) {
  // Assert takes its message as a string: built only when it fails, as
  // these run for every code length and near the end of the input.
  if (count < 1 || count > 32)
    Assert(false, "TAbDfInBitStream.PeekBits: count of bits must be between 1 and 32 inclusive",
           kUnit, 415);
  // When nothing more comes, the bits past the end read as 0.
  if (Reaches(count)) FillBuffer(static_cast<int32_t>(end_ - word_end_));
  Ensure(static_cast<uint32_t>(count));
  peek_count_ = count;
  return static_cast<uint32_t>(bitbuf_) & kBitMask[count];
}

void TAbDfInBitStream::DiscardBitsSlow(int32_t count) {
  if (count < 1 || count > 32) RaiseInflateCause(inflate_cause::kDiscardCount);
  if (count > peek_count_)
    Assert(false, "TAbDfInBitStream.DiscardBits: discarding more bits than peeked", kUnit, 284);
  peek_count_ = 0;
  if (Reaches(count)) RaiseInflateCause(inflate_cause::kDiscardNoData);
  Ensure(static_cast<uint32_t>(count));
  Consume(static_cast<uint32_t>(count));
}

void TAbDfInBitStream::AlignToByte() {
  uint32_t drop = static_cast<uint32_t>(-BitPosition() & 7);
  Ensure(drop);
  Consume(drop);
}

void TAbDfInBitStream::ReadBuffer(void* dest, int32_t count) {
  if (BitPosition() % 8 != 0)
    Assert(false,
           "TAbDfInBitStream.ReadBuffer. cannot read a buffer unless the stream is byte-aligned",
           kUnit, 534);
  auto* out = static_cast<uint8_t*>(dest);
  const uint8_t* pos = buffer_.get() + BitPosition() / 8;
  for (;;) {
    int64_t n = std::min<int64_t>(count, end_ - pos);
    if (n > 0) {
      std::memcpy(out, pos, static_cast<size_t>(n));
      out += n;
      pos += n;
      count -= static_cast<int32_t>(n);
    }
    if (count == 0) break;
    Reseat(8 * (end_ - buffer_.get()));
    if (!FillBuffer(0)) RaiseInflateCause(inflate_cause::kReadBufferNoData);
    pos = buffer_.get() + kFront;
  }
  // Words are counted afresh from here.
  word_end_ = pos + ((end_ - pos) & ~int64_t{3});
  Reseat(8 * (pos - buffer_.get()));
}

}  // namespace velmora
