#include "archive/zip/bit_bucket_stream.h"

#include <algorithm>
#include <cstring>

#include "archive/base/exceptions.h"

namespace velmora {

namespace {

// The room kept beyond the requested size, so a decoder may read back a
// little more than its window.
constexpr int32_t kRingSlack = 1024;

int32_t RingSizeFor(int32_t buffer_size) {
  switch (buffer_size) {
    case 4096:
    case 8192:
    case 32768:
      return buffer_size + kRingSlack;
    default:
      return 32768 + kRingSlack;
  }
}

}  // namespace

TAbBitBucketStream::TAbBitBucketStream(int32_t buffer_size)
    : ring_(std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(RingSizeFor(buffer_size)))),
      ring_size_(RingSizeFor(buffer_size)) {}

int32_t TAbBitBucketStream::Write(const void* buffer, int32_t count) {
  if (count > ring_size_) throw EAbBBSWriteTooManyBytes(count);
  if (count <= 0) return 0;
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  const int32_t first = std::min(count, ring_size_ - tail_);
  std::memcpy(ring_.get() + tail_, bytes, static_cast<size_t>(first));
  std::memcpy(ring_.get(), bytes + first, static_cast<size_t>(count - first));
  tail_ = (tail_ + count) % ring_size_;
  size_ += count;
  position_ = size_;
  return count;
}

void TAbBitBucketStream::WriteKeepingRecent(const void* buffer, int64_t count) {
  if (count <= 0) return;
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  if (count > ring_size_) {
    // Everything but the last ring's worth would be overwritten within
    // this call: only the position moves past it.
    const int64_t skipped = count - ring_size_;
    tail_ = static_cast<int32_t>((tail_ + skipped) % ring_size_);
    size_ += skipped;
    bytes += skipped;
    count = ring_size_;
  }
  Write(bytes, static_cast<int32_t>(count));
}

int64_t TAbBitBucketStream::Seek(int64_t offset, uint16_t origin) {
  int64_t target = 0;
  switch (origin) {
    case soFromBeginning:
      target = offset;
      break;
    case soFromCurrent:
      target = position_ + offset;
      break;
    case soFromEnd:
      target = size_ + offset;
      break;
    default:
      throw EAbBBSInvalidOrigin();
  }
  if (target != size_ && (target > size_ || target < size_ - ring_size_ || target < 0)) {
    throw EAbBBSSeekOutsideBuffer();
  }
  position_ = target;
  return position_;
}

int32_t TAbBitBucketStream::Read(void* buffer, int32_t count) {
  if (count <= 0) return 0;
  if (count > ring_size_ || count > size_ - position_) throw EAbBBSReadTooManyBytes(count);
  // The byte at position_ sits (size_ - position_) bytes behind the tail.
  const int32_t behind = static_cast<int32_t>(size_ - position_);
  int32_t start = tail_ - behind;
  if (start < 0) start += ring_size_;
  auto* out = static_cast<uint8_t*>(buffer);
  const int32_t first = std::min(count, ring_size_ - start);
  std::memcpy(out, ring_.get() + start, static_cast<size_t>(first));
  std::memcpy(out + first, ring_.get(), static_cast<size_t>(count - first));
  position_ += count;
  return count;
}

}  // namespace velmora
