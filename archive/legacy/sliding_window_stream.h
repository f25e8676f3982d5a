// The write-through window that reduce and implode read their own output
// back from: the last five 8 KB chunks of the output stay in memory, older
// chunks are written to the output stream at their absolute positions.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "rtl/stream.h"

namespace velmora {

class TabSlidingWindowStream : public TStream {
 public:
  static constexpr int32_t kChunkSize = 8192;
  static constexpr int32_t kChunkCount = 5;
  // The most a single Read or Write transfers.
  static constexpr int32_t kMaxTransfer = 32768;

  // Positions the output stream (not owned) at 0.
  explicit TabSlidingWindowStream(TStream* output);
  // Writes what is still held when dirty; errors are lost here, so owners
  // call WriteRemainingChunks first.
  ~TabSlidingWindowStream() override;
  TabSlidingWindowStream(const TabSlidingWindowStream&) = delete;
  TabSlidingWindowStream& operator=(const TabSlidingWindowStream&) = delete;

  int32_t Write(const void* buffer, int32_t count) override;
  int32_t Read(void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, uint16_t origin) override;
  int64_t Size() override { return size_; }

  // Writes chunk `index` (0 to 4) to the output stream at its absolute
  // position; chunk 4 with its used length only.
  void bsWriteChunk(int32_t index);
  // What destruction does, with its errors raised: writes every chunk that
  // starts at 0 or later and clears the dirty flag.
  void WriteRemainingChunks();
  // Forgets the unwritten chunks, so destruction writes nothing.
  void Discard() { dirty_ = false; }

  // The byte at absolute position `position`, which must lie in the window
  // (from the start of chunk 0 to the end of what was written).
  uint8_t ByteAt(int64_t position) const {
    const int64_t offset = position - chunk0_start_;
    return (*chunks_[offset / kChunkSize])[offset % kChunkSize];
  }
  int64_t WindowStart() const { return chunk0_start_; }

 private:
  void SlideChunks();

  using Chunk = std::array<uint8_t, kChunkSize>;
  std::array<std::unique_ptr<Chunk>, kChunkCount> chunks_;
  // Absolute output position of chunk 0; negative until 32 KB are written.
  int64_t chunk0_start_ = -int64_t{kChunkCount - 1} * kChunkSize;
  int32_t chunk4_used_ = 0;
  int64_t position_ = 0;
  int64_t size_ = 0;
  bool dirty_ = false;
  TStream* output_;
};

}  // namespace velmora
