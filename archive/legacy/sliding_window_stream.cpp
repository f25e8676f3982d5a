#include "archive/legacy/sliding_window_stream.h"

#include <algorithm>
#include <cstring>

#include "rtl/exceptions.h"

namespace velmora {

TabSlidingWindowStream::TabSlidingWindowStream(TStream* output) : output_(output) {
  // Zeroed, so a read before the start of the output sees zeros.
  for (auto& chunk : chunks_) chunk = std::make_unique<Chunk>(Chunk{});
  output_->Seek(0, soFromBeginning);
}

TabSlidingWindowStream::~TabSlidingWindowStream() {
  try {
    if (dirty_) WriteRemainingChunks();
  } catch (...) {
    // A destructor cannot report; WriteRemainingChunks is the checked path.
  }
}

void TabSlidingWindowStream::SlideChunks() {
  if (chunk0_start_ >= 0) bsWriteChunk(0);
  std::unique_ptr<Chunk> oldest = std::move(chunks_[0]);
  for (int32_t i = 0; i + 1 < kChunkCount; ++i) chunks_[i] = std::move(chunks_[i + 1]);
  chunks_[kChunkCount - 1] = std::move(oldest);
  chunk4_used_ = 0;
  chunk0_start_ += kChunkSize;
}

int32_t TabSlidingWindowStream::Write(const void* buffer, int32_t count) {
  if (position_ != size_) throw Exception("TabSlidingWindowStream.Write: Not at end of stream");
  count = std::clamp(count, 0, kMaxTransfer);
  const uint8_t* from = static_cast<const uint8_t*>(buffer);
  int32_t left = count;
  while (left > 0) {
    const int32_t n = std::min(left, kChunkSize - chunk4_used_);
    std::memcpy(chunks_[kChunkCount - 1]->data() + chunk4_used_, from, n);
    chunk4_used_ += n;
    from += n;
    left -= n;
    if (chunk4_used_ == kChunkSize) SlideChunks();
  }
  size_ += count;
  position_ = size_;
  dirty_ = true;
  return count;
}

int32_t TabSlidingWindowStream::Read(void* buffer, int32_t count) {
  const int64_t available = size_ - position_;
  int32_t n = static_cast<int32_t>(std::min<int64_t>(std::clamp(count, 0, kMaxTransfer),
                                                     std::max<int64_t>(available, 0)));
  uint8_t* to = static_cast<uint8_t*>(buffer);
  for (int32_t done = 0; done < n;) {
    const int64_t offset = position_ - chunk0_start_;
    const int32_t in_chunk = static_cast<int32_t>(offset % kChunkSize);
    const int32_t take = std::min(n - done, kChunkSize - in_chunk);
    std::memcpy(to + done, chunks_[offset / kChunkSize]->data() + in_chunk, take);
    done += take;
    position_ += take;
  }
  return n;
}

int64_t TabSlidingWindowStream::Seek(int64_t offset, uint16_t origin) {
  int64_t target;
  switch (origin) {
    case soFromBeginning: target = offset; break;
    case soFromCurrent: target = position_ + offset; break;
    case soFromEnd: target = size_ + offset; break;
    default: throw Exception("TabSlidingWindowStream.Seek: invalid origin");
  }
  if (target < chunk0_start_ || target > size_) {
    throw Exception("TabSlidingWindowStream.Seek: invalid new position");
  }
  position_ = target;
  return position_;
}

void TabSlidingWindowStream::bsWriteChunk(int32_t index) {
  const int64_t start = chunk0_start_ + int64_t{index} * kChunkSize;
  if (output_->Seek(start, soFromBeginning) != start) {
    throw Exception("TabSlidingWindowStream.bsWriteChunk: seek failed");
  }
  const int32_t length = index == kChunkCount - 1 ? chunk4_used_ : kChunkSize;
  try {
    output_->WriteBuffer(chunks_[index]->data(), length);
  } catch (const EDiskFull&) {
    throw;  // these words tell the user what to free; ours would not
  } catch (const EWriteError&) {
    throw Exception("TabSlidingWindowStream.bsWriteChunk: write failed");
  }
}

void TabSlidingWindowStream::WriteRemainingChunks() {
  dirty_ = false;
  for (int32_t i = 0; i < kChunkCount; ++i) {
    if (chunk0_start_ + int64_t{i} * kChunkSize >= 0) bsWriteChunk(i);
  }
}

}  // namespace velmora
