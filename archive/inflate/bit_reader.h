// TAbDfInBitStream: the Deflate bit stream (bits taken from the least
// significant end of each byte) read through a 16,384-byte read-ahead
// buffer, which gives back every byte it read ahead but did not use when it
// is released.
//
// Observable behaviour follows a reader that moves whole 32-bit words into a
// 32-bit bit buffer, only when a request cannot be met: the source is read
// (and progress reported) exactly when a request of n bits at bit position P
// reaches past the last whole word of the byte buffer. Internally the bits
// sit in a 64-bit buffer refilled with unaligned 8-byte loads, and the
// decoder's hot loop borrows that state (Cursor) while it is far from the
// end of the buffer, where no request can reach past it.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>

#include "rtl/stream.h"

namespace velmora {

using TAbProgressPercentEvent = std::function<void(int32_t percent)>;

class TAbDfInBitStream {
 public:
  static constexpr int32_t kBufferSize = 16384;

  // source must not be null; progress is reported only when a handler is
  // given and source_size is above 0.
  TAbDfInBitStream(TStream* source, int64_t source_size, TAbProgressPercentEvent on_progress);
  // Releases (see Release) unless that was done; errors are swallowed here.
  ~TAbDfInBitStream();
  TAbDfInBitStream(const TAbDfInBitStream&) = delete;
  TAbDfInBitStream& operator=(const TAbDfInBitStream&) = delete;

  uint32_t ReadBit();
  uint32_t ReadBits(int32_t count);           // 1 ... 16
  // Both are inline where the bits are already buffered: a dynamic block
  // header decodes every code length through them.
  uint32_t PeekBits(int32_t count) {          // 1 ... 32; zeros past the end
    if (count < 1 || count > 32 || Reaches(count)) return PeekBitsSlow(count);
    Ensure(static_cast<uint32_t>(count));
    peek_count_ = count;
    return static_cast<uint32_t>(bitbuf_ & ((uint64_t{1} << count) - 1));
  }
  void DiscardBits(int32_t count) {           // at most the last peek's count
    if (count < 1 || count > peek_count_ || Reaches(count)) return DiscardBitsSlow(count);
    peek_count_ = 0;
    Ensure(static_cast<uint32_t>(count));
    Consume(static_cast<uint32_t>(count));
  }
  void AlignToByte();
  void ReadBuffer(void* dest, int32_t count);  // at a byte boundary

  // Moves the source back to the first byte of which no bit was consumed.
  // Done once; the destructor does it when nobody did.
  void Release();

  // The hot loop's view: the next byte to load, the bit buffer and its
  // count. Valid between TakeCursor and PutCursor, with no other call between.
  struct Cursor {
    const uint8_t* in;
    uint64_t bitbuf;
    uint32_t bitsleft;
  };
  Cursor TakeCursor() const { return {in_, bitbuf_, bitsleft_}; }
  void PutCursor(const Cursor& c) {
    in_ = c.in;
    bitbuf_ = c.bitbuf;
    bitsleft_ = c.bitsleft;
  }
  // While cursor.in is below this, every request of the next 128 bits lies
  // within the whole words of the buffer, and 8-byte loads (two per symbol
  // at most) stay inside the buffer.
  const uint8_t* FastInputEnd() const {
    return word_end_ - buffer_.get() >= kFastMargin ? word_end_ - kFastMargin : buffer_.get();
  }
  static constexpr int32_t kFastMargin = 16;

 private:
  // Bit position of the next unconsumed bit, counted from buffer_[0].
  int64_t BitPosition() const { return 8 * (in_ - buffer_.get()) - bitsleft_; }
  bool Reaches(int64_t bits) const { return BitPosition() + bits > 8 * (word_end_ - buffer_.get()); }
  void Ensure(uint32_t bits) {
    if (bitsleft_ < bits) {
      uint64_t word;
      std::memcpy(&word, in_, 8);
      bitbuf_ |= word << bitsleft_;
      in_ += (63 - bitsleft_) >> 3;
      bitsleft_ |= 56;
    }
  }
  void Consume(uint32_t bits) {
    bitbuf_ >>= bits;
    bitsleft_ -= bits;
  }
  uint32_t PeekBitsSlow(int32_t count);
  void DiscardBitsSlow(int32_t count);
  void Reseat(int64_t bit_position);
  // Reads the next block from the source; false when the buffer then holds
  // no byte at all. carried: bytes at the end not yet taken into words.
  // While a block the source lent is not all copied, takes its next piece
  // instead: the words, and so when the source is read, come out as if the
  // whole block had been copied at once.
  bool FillBuffer(int32_t carried);
  // Copies the next piece of the lent block to into; returns its size.
  int32_t TakeLentPiece(uint8_t* into);
  void ReportProgress(int32_t got);

  // The buffer has room in front for the partly used word of the bit buffer
  // and behind for 8-byte loads and overlapping reads past the end.
  static constexpr int32_t kFront = 8;
  static constexpr int32_t kBack = 64;

  uint64_t bitbuf_ = 0;
  uint32_t bitsleft_ = 0;
  const uint8_t* end_;        // just past the last valid byte (zeros appended included)
  std::unique_ptr<uint8_t[]> buffer_;
  const uint8_t* in_;         // next byte not yet in the bit buffer
  const uint8_t* word_end_;   // end of the whole words from the word origin
  int64_t bytes_read_ = 0;    // progress count, read-ahead included
  int32_t appended_zeros_ = 0;
  TAbProgressPercentEvent on_progress_;
  int32_t peek_count_ = 0;
  TStream* source_;
  int64_t source_size_ = 0;  // 64-bit: items beyond 4 GiB report evenly too
  // Stream offset (from where reading began) of buffer_[0], and the number
  // of real bytes taken from the source: appended zeros never count.
  int64_t stream_offset_of_buffer_ = 0;
  int64_t real_bytes_ = 0;
  bool released_ = false;
  // Whether the source lends its memory (TStream::ReadInPlace); the part of
  // the last block it lent not yet copied; the next piece's size, growing
  // fourfold so that a long stream soon takes whole blocks. Every piece but
  // a block's last holds two words or more, so one fill meets any request;
  // after the last the buffer holds what one copy of the block would.
  bool lends_ = true;
  const uint8_t* lent_ = nullptr;
  int32_t lent_left_ = 0;
  int32_t next_piece_ = 512;
};

}  // namespace velmora
