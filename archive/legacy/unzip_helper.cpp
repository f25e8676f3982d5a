#include "archive/legacy/unzip_helper.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "archive/checksum/crc32.h"
#include "archive/legacy/explode.h"
#include "archive/legacy/unreduce.h"
#include "archive/legacy/unshrink.h"

namespace velmora {

namespace {
// Reduce reaches back at most 4,096 bytes and implode 8,192; the window
// keeps four full chunks behind everything flushed, so every byte reached
// back is either still in the output buffer or in the window.
constexpr int64_t kMaxReachBack = 8192;
static_assert(kMaxReachBack <= (TabSlidingWindowStream::kChunkCount - 1) *
                                   int64_t{TabSlidingWindowStream::kChunkSize});
}  // namespace

TAbUnzipHelper::TAbUnzipHelper(TStream* archive_stream, TAbZDecoder* decoder,
                               TStream* output_stream)
    : output_(output_stream),
      decoder_(decoder),
      archive_stream_(archive_stream),
      out_buf_(new uint8_t[kOutputBufferSize]()) {
  // Until the driver says otherwise, everything up to the archive's end.
  const int64_t size = archive_stream ? archive_stream->Size() : 0;
  PackedSize = static_cast<uint32_t>(std::clamp<int64_t>(size, 0, UINT32_MAX));
}

TAbUnzipHelper::~TAbUnzipHelper() = default;

void TAbUnzipHelper::ResetForExecute() {
  bit_buf_ = 0;
  bit_count_ = 0;
  bytes_sent_ = 0;
  out_pos_ = 0;
  input_end_ = false;
  in_next_ = in_end_ = in_buf_;
  input_left_ = PackedSize;
  UpdateFlushLimits();
}

uint32_t TAbUnzipHelper::Execute() {
  ResetForExecute();
  if (Method >= 2 && Method <= 6) {
    window_ = std::make_unique<TabSlidingWindowStream>(output_);
    writer_ = window_.get();
  } else {
    writer_ = output_;
  }
  std::exception_ptr failure;
  try {
    Expand();
  } catch (...) {
    failure = std::current_exception();
  }
  // The output produced up to a failure still reaches the output stream;
  // when this last flush is itself aborted, the window's chunks are dropped.
  try {
    FlushOutput();
  } catch (...) {
    if (window_) window_->Discard();
    window_.reset();
    writer_ = nullptr;
    throw;
  }
  if (window_) {
    std::unique_ptr<TabSlidingWindowStream> window = std::move(window_);
    writer_ = nullptr;
    window->WriteRemainingChunks();
  }
  if (failure) std::rethrow_exception(failure);
  return ~crc_;
}

void TAbUnzipHelper::Expand() {
  if (decoder_) {
    decoder_->CheckHeader();
    input_left_ = std::max<int64_t>(input_left_ - kZipCryptHeaderSize, 0);
  }
  switch (Method) {
    case 1:
      Unshrink(*this);
      break;
    case 2:
    case 3:
    case 4:
    case 5:
      Unreduce(*this, Method - 1);
      break;
    case 6:
      Explode(*this, ImplodeDictionary == kImplodeDictionary8K, ImplodeTreeCount == 3);
      break;
    default:
      throw EAbZipInvalidMethod();
  }
}

void TAbUnzipHelper::TopUpBits() {
  if (in_end_ - in_next_ >= 8) {
    // Little-endian load: the first byte lands in the lowest bits.
    uint64_t word;
    std::memcpy(&word, in_next_, sizeof word);
    const int32_t take = (63 - bit_count_) >> 3;
    bit_buf_ |= (word & LowMask(take * 8)) << bit_count_;
    in_next_ += take;
    bit_count_ += take * 8;
    return;
  }
  while (bit_count_ <= 56 && in_next_ < in_end_) {
    bit_buf_ |= uint64_t{*in_next_++} << bit_count_;
    bit_count_ += 8;
  }
}

void TAbUnzipHelper::FillBits(int32_t n) {
  while (bit_count_ < n) {
    TopUpBits();
    if (bit_count_ >= n) return;
    Refill();
    if (input_end_) {
      // No compressed bytes are left: what follows reads as zeros.
      bit_count_ = n;
      return;
    }
  }
}

void TAbUnzipHelper::Refill() {
  if (input_left_ <= 0) {
    input_end_ = true;
    return;
  }
  if (Spanned && archive_stream_->Position() >= archive_stream_->Size()) {
    ++CurrentDisk;
    if (!SwitchImage) throw EAbZipBadSpanStream();
    archive_stream_ = SwitchImage(CurrentDisk);
    if (!archive_stream_) throw EAbZipBadSpanStream();
  }
  const int64_t remaining = archive_stream_->Size() - archive_stream_->Position();
  const int32_t wanted = static_cast<int32_t>(
      std::max<int64_t>(std::min({input_left_, int64_t{kInputBufferSize}, remaining}), 0));
  const int32_t got = wanted > 0 ? archive_stream_->Read(in_buf_, wanted) : 0;
  if (got <= 0) throw EAbReadError();
  if (decoder_) decoder_->DecodeBuffer(in_buf_, got);
  input_left_ -= got;
  input_end_ = false;
  in_next_ = in_buf_;
  in_end_ = in_buf_ + got;
}

uint8_t TAbUnzipHelper::OutputPercent(int64_t part) const {
  // PercentOf's rule, in 64 bits so that sizes beyond 2 GB stay sound.
  int64_t whole = ExpectedSize();
  if (whole > 16384000) {
    part = (part + 128) >> 8;
    whole = (whole + 128) >> 8;
  }
  if (whole <= 0) return 0;
  if (whole <= part) return 100;
  return static_cast<uint8_t>(part * 100 / whole);
}

int64_t TAbUnzipHelper::NextPercentChange(int64_t after) const {
  // The percentage never falls as the output grows: search for the first
  // total beyond `after` whose percentage differs from the last reported.
  const int64_t whole = ExpectedSize();
  if (whole <= after || OutputPercent(whole) == last_percent_) return INT64_MAX;
  int64_t low = after + 1, high = whole;
  while (low < high) {
    const int64_t mid = low + (high - low) / 2;
    if (OutputPercent(mid) != last_percent_) {
      high = mid;
    } else {
      low = mid + 1;
    }
  }
  return low;
}

void TAbUnzipHelper::UpdateFlushLimits() {
  const int64_t to_size = ExpectedSize() - bytes_sent_;
  flush_at_ = static_cast<int32_t>(std::clamp<int64_t>(to_size, 1, kOutputBufferSize));
  report_at_ = OnProgress ? NextPercentChange(bytes_sent_) : INT64_MAX;
}

void TAbUnzipHelper::FlushOutput() {
  if (out_pos_ > 0) {
    // A short write (a full disk) fails the item: the CRC below is taken
    // over the buffer, so it would match output that never arrived.
    writer_->WriteBuffer(out_buf_.get(), out_pos_);
    bytes_sent_ += out_pos_;
    UpdateCrc32Buffer(crc_, out_buf_.get(), out_pos_);
    out_pos_ = 0;
  }
  bool abort = false;
  const uint8_t percent = OutputPercent(bytes_sent_);
  if (percent != last_percent_) ReportProgress(percent, abort);
  UpdateFlushLimits();
  if (abort) throw EAbUserAbort();
}

void TAbUnzipHelper::ReportProgress(uint8_t percent, bool& abort) {
  if (OnProgress && percent != last_percent_) {
    last_percent_ = percent;
    OnProgress(percent, abort);
  }
}

void TAbUnzipHelper::WriteReversed(const uint8_t* bytes, int32_t count) {
  while (count > 0) {
    const int32_t run = std::min(count, flush_at_ - out_pos_);
    uint8_t* dst = out_buf_.get() + out_pos_;
    for (int32_t i = 0; i < run; ++i) dst[i] = bytes[count - 1 - i];
    out_pos_ += run;
    count -= run;
    if (out_pos_ >= flush_at_) FlushOutput();
  }
}

void TAbUnzipHelper::CopyFromOutput(int64_t from, int32_t count) {
  while (count > 0) {
    const int64_t total = BytesProduced();
    if (total >= report_at_) FlushOutput();
    if (from >= bytes_sent_) {
      // The source lies in the output buffer: copy the run up to the next
      // flush or report, byte by byte because source and target may
      // overlap.
      const int64_t room = std::min<int64_t>(flush_at_ - out_pos_, report_at_ - BytesProduced());
      const int32_t run = static_cast<int32_t>(std::min<int64_t>(count, room));
      const uint8_t* src = out_buf_.get() + (from - bytes_sent_);
      uint8_t* dst = out_buf_.get() + out_pos_;
      for (int32_t i = 0; i < run; ++i) dst[i] = src[i];
      out_pos_ += run;
      from += run;
      count -= run;
      if (out_pos_ >= flush_at_) FlushOutput();
      continue;
    }
    if (from >= 0 && from < window_->WindowStart()) {
      throw Exception("TabSlidingWindowStream.Seek: invalid new position");
    }
    WriteByte(from < 0 ? 0 : window_->ByteAt(from));
    ++from;
    --count;
  }
}

}  // namespace velmora
