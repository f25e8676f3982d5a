// TAbUnzipHelper: expands one item stored with a method older than Deflate
// (shrink, reduce, implode). It reads the compressed bytes in 4 KB blocks,
// decrypting them when the item is encrypted, hands out bits least
// significant first, buffers the output in 32 KB and passes it on with its
// CRC-32 and a progress report per flush.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "archive/base/archive.h"
#include "archive/base/exceptions.h"
#include "archive/crypt/zdecoder.h"
#include "archive/legacy/sliding_window_stream.h"
#include "rtl/stream.h"

namespace velmora {

// Asks the archive to go on with disk `disk_number` of a spanned set (the
// archive's SwitchImage; its Abort answer is not examined) and returns the
// archive's stream afterwards, which may be a new object. Raises
// EAbZipBadSpanStream when the archive is not read through a file stream.
using TAbSwitchImageCallback = std::function<TStream*(uint16_t disk_number)>;

// Values of TAbUnzipHelper::ImplodeDictionary.
constexpr uint8_t kImplodeDictionaryInvalid = 0;
constexpr uint8_t kImplodeDictionary4K = 1;
constexpr uint8_t kImplodeDictionary8K = 2;

// Compressed data that does not fit the expanders' tables (a follower set
// of more than 32 characters, a Shannon-Fano tree with more entries than it
// holds, shrink codes wider than 13 bits, a string that leads back to
// itself). The item fails with this rather than overrunning a table.
class EAbLegacyDataError : public EAbZipException {
 public:
  explicit EAbLegacyDataError(std::string message) : EAbZipException(std::move(message), 0) {}
};

class TAbUnzipHelper {
 public:
  static constexpr int32_t kInputBufferSize = 4096;
  static constexpr int32_t kOutputBufferSize = 32768;

  // The streams and the decoder are not owned. decoder may be null.
  TAbUnzipHelper(TStream* archive_stream, TAbZDecoder* decoder, TStream* output_stream);
  virtual ~TAbUnzipHelper();
  TAbUnzipHelper(const TAbUnzipHelper&) = delete;
  TAbUnzipHelper& operator=(const TAbUnzipHelper&) = delete;

  // The whole expansion; returns the CRC-32 (complemented) of the output.
  uint32_t Execute();

  // The next n (0 to 32) bits of the compressed data, least significant
  // first. Past the end of the data the bits are 0 and InputEnded is set.
  uint32_t ReadBits(int32_t n) {
    if (bit_count_ < n) FillBits(n);
    const uint32_t result = static_cast<uint32_t>(bit_buf_ & LowMask(n));
    bit_buf_ >>= n;
    bit_count_ -= n;
    return result;
  }
  // Appends one output byte.
  void WriteByte(uint8_t b) {
    out_buf_[out_pos_++] = b;
    if (out_pos_ >= flush_at_) FlushOutput();
  }
  // WriteByte for bytes[count - 1] down to bytes[0], the order in which an
  // LZW string's stack hands them out.
  void WriteReversed(const uint8_t* bytes, int32_t count);
  // Passes the buffered output on, then reports progress; raises
  // EAbUserAbort when the progress callback asked to stop.
  void FlushOutput();

  // Copies count bytes of earlier output, starting at absolute output
  // position `from`, one by one, so that each copied byte is available for
  // the next. Positions before the start of the output give 0.
  void CopyFromOutput(int64_t from, int32_t count);

  // For table-driven decoders: up to n (at most 32) of the next bits
  // without consuming them, 0 beyond what is buffered; BitsAvailable says
  // how many are real. NeedMoreBits reads further input (setting InputEnded
  // and padding with zeros when there is none).
  uint32_t PeekBits(int32_t n) {
    if (bit_count_ < n) TopUpBits();
    return static_cast<uint32_t>(bit_buf_ & LowMask(n));
  }
  int32_t BitsAvailable() const { return bit_count_; }
  void SkipBits(int32_t n) {
    bit_buf_ >>= n;
    bit_count_ -= n;
  }
  void NeedMoreBits() { FillBits(bit_count_ + 1); }

  bool InputEnded() const { return input_end_; }
  // Bytes sent plus bytes waiting: everything produced so far.
  int64_t BytesProduced() const { return bytes_sent_ + out_pos_; }
  // The uncompressed size as the expanders compare with it.
  int64_t ExpectedSize() const { return std::max<int64_t>(UnpackedSize, 0); }

  // Settings made by the extraction driver. 64-bit like the item model's
  // sizes: a ZIP64 item beyond 4 GiB keeps its size and its progress.
  int64_t UnpackedSize = 0;
  uint32_t PackedSize = 0;
  uint8_t Method = 8;
  uint8_t ImplodeDictionary = kImplodeDictionaryInvalid;
  uint8_t ImplodeTreeCount = 0;
  // The archive's OnStepProgress: (percentage, var Abort).
  TAbProgressEvent OnProgress;
  // The archive's disk request; kept for the driver, never called here.
  std::function<void(void* Sender, int32_t DiskNumber, bool& Abort)> OnRequestNthDisk;
  bool Spanned = false;
  std::string ArchiveFileName;
  uint16_t CurrentDisk = 0;
  uint16_t OpenMode = 0;
  TAbSwitchImageCallback SwitchImage;

 protected:
  // Calls OnProgress when it is assigned and the percentage differs from
  // the last one reported.
  virtual void ReportProgress(uint8_t percent, bool& abort);

 private:
  static uint64_t LowMask(int32_t n) { return (uint64_t{1} << n) - 1; }
  void Expand();
  void FillBits(int32_t n);
  void TopUpBits();
  void Refill();
  void ResetForExecute();
  void UpdateFlushLimits();
  uint8_t OutputPercent(int64_t part) const;
  int64_t NextPercentChange(int64_t after) const;

  TStream* writer_ = nullptr;
  TStream* output_;
  uint32_t crc_ = 0xFFFFFFFFu;
  TAbZDecoder* decoder_;
  uint8_t last_percent_ = 0;
  TStream* archive_stream_;
  std::unique_ptr<TabSlidingWindowStream> window_;

  std::unique_ptr<uint8_t[]> out_buf_;
  int64_t bytes_sent_ = 0;
  int32_t out_pos_ = 0;
  // WriteByte flushes when out_pos_ reaches this: the buffer is full or
  // the uncompressed size is reached.
  int32_t flush_at_ = kOutputBufferSize;
  // The output total at which the percentage next changes. Reading back
  // flushes before every byte; a flush that would change nothing but the
  // buffer's place is skipped, so the reports stay those of a flush per
  // byte.
  int64_t report_at_ = INT64_MAX;

  uint8_t in_buf_[kInputBufferSize] = {};
  const uint8_t* in_next_ = in_buf_;
  const uint8_t* in_end_ = in_buf_;
  int64_t input_left_ = 0;
  bool input_end_ = false;
  // Bits not yet consumed, the next one lowest; bits at and above
  // bit_count_ are always 0.
  uint64_t bit_buf_ = 0;
  int32_t bit_count_ = 0;
};

}  // namespace velmora
