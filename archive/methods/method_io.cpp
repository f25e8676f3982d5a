#include "archive/methods/method_io.h"

#include <algorithm>

#include "archive/checksum/crc32.h"
#include "rtl/format.h"

namespace velmora {

namespace {

// done * 100 / total to the nearest whole number, halves to even, as the
// stored and inflate paths count it.
uint8_t RoundedPercent(int64_t done, int64_t total) {
  if (total <= 0) return 100;
  const int64_t scaled = done * 100;
  int64_t quotient = scaled / total;
  const int64_t twice_rest = 2 * (scaled % total);
  if (twice_rest > total || (twice_rest == total && (quotient & 1) != 0)) ++quotient;
  return static_cast<uint8_t>(std::min<int64_t>(quotient, 100));
}

}  // namespace

TAbMethodInput::TAbMethodInput(TAbMethodJob& job)
    : source_(job.Source),
      left_(std::max<int64_t>(job.PackedSize, 0)),
      block_(new uint8_t[kBlockSize]) {}

bool TAbMethodInput::Fill() {
  next = block_.get();
  count = 0;
  if (left_ <= 0) return false;
  const auto wanted = static_cast<int32_t>(std::min<int64_t>(left_, kBlockSize));
  // A source may hand out less than asked (a spanned set at the end of an
  // image); only 0 means it has nothing more.
  while (count < static_cast<size_t>(wanted)) {
    const int32_t got = source_->Read(block_.get() + count, wanted - static_cast<int32_t>(count));
    if (got <= 0) break;
    count += static_cast<size_t>(got);
  }
  if (count == 0) {
    left_ = 0;  // the archive ends inside the item: the decoder says "truncated"
    return false;
  }
  left_ -= static_cast<int64_t>(count);
  return true;
}

TAbMethodOutput::TAbMethodOutput(TAbMethodJob& job, const char* method_name)
    : job_(job), method_name_(method_name) {}

void TAbMethodOutput::RefuseExcess() const {
  throw EAbMethodDataError(
      Format("%s data decodes to more than the item's declared size of %d bytes",
             {method_name_, job_.UnpackedSize}));
}

void TAbMethodOutput::Put(const uint8_t* data, size_t count) {
  if (count == 0) return;
  if (static_cast<int64_t>(count) > Room()) RefuseExcess();
  UpdateCrc32Buffer(crc_, data, static_cast<int32_t>(count));
  const size_t step = static_cast<size_t>(std::max(job_.MaxWrite, 1));
  for (size_t at = 0; at < count; at += step) {
    job_.Destination->WriteBuffer(data + at, static_cast<int32_t>(std::min(step, count - at)));
  }
  written_ += static_cast<int64_t>(count);
  const uint8_t percent = RoundedPercent(written_, job_.UnpackedSize);
  if (percent != last_percent_) {
    last_percent_ = percent;
    bool abort = false;
    if (job_.OnProgress) job_.OnProgress(percent, abort);
    if (abort) throw EAbUserAbort();
  }
}

uint32_t TAbMethodOutput::Finish() {
  if (last_percent_ < 100) {
    last_percent_ = 100;
    bool abort = false;
    if (job_.OnProgress) job_.OnProgress(100, abort);
    if (abort) throw EAbUserAbort();
  }
  return ~crc_;
}

TAbChunkedOutput::TAbChunkedOutput(TAbMethodOutput& output)
    : output_(output), piece_(new uint8_t[kMethodOutputBlock]) {}

void TAbChunkedOutput::Add(const uint8_t* data, size_t count) {
  if (count == 0) return;
  // Bytes past the declared size: the pieces before the one that holds the
  // first of them go on, that piece is refused.
  const bool too_long = static_cast<int64_t>(count) > Room();
  if (too_long) count = static_cast<size_t>(std::max<int64_t>(Room(), 0));
  while (count > 0) {
    if (held_ == 0 && count >= kMethodOutputBlock) {
      output_.Put(data, kMethodOutputBlock);
      data += kMethodOutputBlock;
      count -= kMethodOutputBlock;
      continue;
    }
    const size_t step = std::min(count, kMethodOutputBlock - held_);
    std::copy(data, data + step, piece_.get() + held_);
    held_ += step;
    data += step;
    count -= step;
    if (held_ == kMethodOutputBlock) {
      held_ = 0;
      output_.Put(piece_.get(), kMethodOutputBlock);
    }
  }
  if (too_long) output_.RefuseExcess();
}

uint32_t TAbChunkedOutput::Finish() {
  const size_t held = held_;
  held_ = 0;
  output_.Put(piece_.get(), held);
  return output_.Finish();
}

}  // namespace velmora
