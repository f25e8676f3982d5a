// TAbBitBucketStream: the sink of an integrity test. It keeps only the most
// recent bytes written, in a ring, so a decoder that reads back its own
// output (the legacy methods) still finds its history, while the data as a
// whole goes nowhere.
#pragma once

#include <cstdint>
#include <memory>

#include "rtl/stream.h"

namespace velmora {

class TAbBitBucketStream : public TStream {
 public:
  // buffer_size 4,096, 8,192 or 32,768 (anything else means 32,768); the
  // ring holds 1,024 bytes more than that.
  explicit TAbBitBucketStream(int32_t buffer_size = 32768);

  // Appends at the end whatever the current position; more than the ring
  // holds raises EAbBBSWriteTooManyBytes.
  int32_t Write(const void* buffer, int32_t count) override;
  // The same as writing count bytes in ring-size pieces, without copying
  // the bytes that later pieces would overwrite at once.
  void WriteKeepingRecent(const void* buffer, int64_t count);
  // Only the end or the last ring-size bytes before it can be reached.
  int64_t Seek(int64_t offset, uint16_t origin) override;
  // Exactly count bytes from the ring, or EAbBBSReadTooManyBytes.
  int32_t Read(void* buffer, int32_t count) override;
  int64_t Size() override { return size_; }

  int32_t RingSize() const { return ring_size_; }

 private:
  // Never cleared: Read and Seek reach only bytes that were written.
  std::unique_ptr<uint8_t[]> ring_;
  int32_t ring_size_;
  // Positions are 64-bit: a test runs through items larger than 2 GiB.
  int64_t position_ = 0;
  int64_t size_ = 0;
  int32_t tail_ = 0;  // where the next write goes
};

}  // namespace velmora
