// TAbDfOutputWindow: the decoder's output with the history back-references
// need. Output is written straight into a large buffer and passed on from
// there to the destination (or counted, in test-only mode) in blocks of
// about 256 KiB, with the checksum taken over each block as it leaves, while
// it is still in cache. The buffer holds four such blocks behind the history,
// so the history is moved back to its start only once per 1 MiB of output:
// the buffer is the window, and output leaves from where it was decoded.
//
// When the output's size is known and the destination lends memory for it,
// that memory is the buffer: nothing slides and nothing is copied, and the
// blocks are only checksummed and committed. Output that runs past the lent
// memory moves the history into a buffer of the window's own and carries on
// as above.
//
// Where the processor folds a CRC-32 inside a loop (crc32_fold.h), the hot
// loop takes the CRC-32 of the output earlier runs left behind it, and the
// window only the rest: what the last run produced, before the buffer
// slides, the lent memory is committed, or the value is asked for.
#pragma once

#include <cstdint>
#include <memory>

#include "rtl/stream.h"

namespace velmora {

class TAbLogger;

class TAbDfOutputWindow {
 public:
  // dest must not be null unless test_only; output_limit of 0 or below
  // means none; a larger limit is lowered to the format's write point
  // (65,536 for Deflate, 98,304 for Deflate64). known_size: the output's
  // declared size, or -1 (see Inflate for what it changes).
  TAbDfOutputWindow(TStream* dest, TAbLogger* log, bool test_only, int32_t output_limit,
                    bool use_crc32, bool deflate64, int64_t known_size = -1);
  // Passes on what is still buffered; errors are swallowed here, so callers
  // that care call PassOn first.
  ~TAbDfOutputWindow();
  TAbDfOutputWindow(const TAbDfOutputWindow&) = delete;
  TAbDfOutputWindow& operator=(const TAbDfOutputWindow&) = delete;

  void PutLiteral(uint8_t value);
  void PutBytes(const void* data, int32_t count);
  // distance must not reach before the first byte produced (checked; an
  // internal inflate error otherwise).
  void PutMatch(int32_t length, int32_t distance);
  // Passes on everything, then the CRC-32 (complemented) or Adler-32.
  uint32_t ChecksumValue();
  int64_t OutputPosition();
  // Passes on everything produced so far; with lent memory, commits it and
  // so ends the loan: no output may follow.
  void PassOn();

  // The hot loop writes at Out() directly, below FastOutputEnd() (where a
  // longest match plus a 32-byte overshoot still fits; with an output limit
  // it never runs), then calls SetOut and SlideIfFull.
  uint8_t* Out() const { return out_; }
  const uint8_t* Start() const { return start_; }
  uint8_t* FastOutputEnd() const { return fast_end_; }
  void SetOut(uint8_t* out) { out_ = out; }
  // Passes on a block when one is complete, and slides when the buffer is
  // full.
  void SlideIfFull() {
    if (out_ >= pass_on_at_) PassOnBlock();
  }

  // The hot loop's part of the CRC-32: the bytes before next are in
  // running or, once started, in the fold accumulator instead.
  struct CrcLane {
    const uint8_t* next = nullptr;
    uint32_t running = 0xFFFFFFFF;
    bool started = false;
    alignas(32) uint8_t accumulator[64];
  };
  // Null unless the hot loop folds the CRC-32.
  CrcLane* LoopCrc() { return loop_crc_ ? &crc_ : nullptr; }
  // The lane itself, for a loop that knows the window lets it fold.
  CrcLane& Lane() { return crc_; }

 private:
  // The limit counts the bytes a 32 KiB-sliding window of the format's
  // write point would hold (limit_fill_), so stored data that passed the limit
  // and slid away is not counted, as that window would not count it.
  void AddAndCheckLimit(int32_t count) {
    limit_fill_ += count;
    if (output_limit_ > 0 && limit_fill_ >= output_limit_) ThrowLimit();
    while (limit_fill_ >= limit_write_point_) limit_fill_ -= kLimitSlide;
  }
  static constexpr int32_t kLimitSlide = 32768;
  [[noreturn]] static void ThrowLimit();
  void PassOnBlock();
  void PassOnPending();
  void CommitLent();
  void Slide();
  // Carries on in a buffer of the window's own, with the history copied
  // from the lent memory, which is committed.
  void LeaveDirect();
  void SetBlockEnd();
  void PassOnRange(const uint8_t* from, const uint8_t* to);
  // Takes the CRC-32 of everything up to out_.
  void TakeCrc();

  std::unique_ptr<uint8_t[]> buffer_;  // the window's own; null while direct
  uint8_t* start_;                     // the first byte a match may reach
  uint8_t* direct_end_ = nullptr;      // end of the lent memory, while direct
  uint8_t* uncommitted_ = nullptr;     // first lent byte not yet committed
  int32_t max_match_;
  uint32_t adler_ = 1;
  CrcLane crc_;
  bool loop_crc_;
  uint8_t* out_;
  TAbLogger* log_;
  int32_t output_limit_;
  int32_t history_;  // bytes kept behind the write position by a slide
  TStream* dest_;
  int64_t counted_ = 0;
  int64_t known_size_;
  bool test_only_;
  bool crc32_;
  uint8_t* write_point_;  // a slide is due here
  uint8_t* pending_;      // first byte not yet passed on
  uint8_t* pass_on_at_;   // where the block from pending_ is complete
  uint8_t* fast_end_;
  int32_t limit_write_point_;
  int32_t limit_fill_ = 0;
};

// Adler-32 of RFC 1950 over a run of bytes, from a running value.
uint32_t UpdateAdler32(uint32_t adler, const uint8_t* data, size_t count);

}  // namespace velmora
