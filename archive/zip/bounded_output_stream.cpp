#include "archive/zip/bounded_output_stream.h"

#include <algorithm>

#include "archive/zip/bit_bucket_stream.h"

namespace velmora {

TAbBoundedOutputStream::TAbBoundedOutputStream(TStream* target, int64_t limit)
    : target_(target),
      bucket_(dynamic_cast<TAbBitBucketStream*>(target)),
      position_(target->Position()),
      end_(position_ + std::max<int64_t>(limit, 0)) {}

void TAbBoundedOutputStream::PassOn(const uint8_t* bytes, int32_t count) {
  // WriteBuffer, so that a short write raises the target's own error (a
  // file stream names a full disk), not the bare one of this stream.
  if (bucket_ == nullptr) return target_->WriteBuffer(bytes, count);
  bucket_->WriteKeepingRecent(bytes, count);
}

int32_t TAbBoundedOutputStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  const int64_t room = std::max<int64_t>(end_ - position_, 0);
  const auto allowed = static_cast<int32_t>(std::min<int64_t>(count, room));
  PassOn(static_cast<const uint8_t*>(buffer), allowed);
  position_ += allowed;
  if (allowed < count) throw EAbItemTooLarge();
  return allowed;
}

uint8_t* TAbBoundedOutputStream::DirectWriteBlock(int64_t count) {
  return count <= Room() ? target_->DirectWriteBlock(count) : nullptr;
}

void TAbBoundedOutputStream::CommitDirect(int64_t count) {
  target_->CommitDirect(count);
  position_ += count;
}

int64_t TAbBoundedOutputStream::Seek(int64_t offset, uint16_t origin) {
  const int64_t result = target_->Seek(offset, origin);
  if (result >= 0) position_ = result;
  return result;
}

}  // namespace velmora
