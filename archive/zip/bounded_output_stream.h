// TAbBoundedOutputStream: the destination of one item as the extraction
// driver hands it to the decompressors. It lets through no more bytes than
// the item's directory entry promises, so a forged size can neither fill a
// disk (a kilobyte entry that inflates to gigabytes) nor pull the following
// items' bytes into a stored one; the item fails instead.
#pragma once

#include <algorithm>
#include <cstdint>

#include "archive/base/exceptions.h"
#include "rtl/stream.h"

namespace velmora {

class TAbBitBucketStream;

// An item whose data runs on past the size its directory entry gives.
class EAbItemTooLarge : public EAbZipException {
 public:
  EAbItemTooLarge() : EAbZipException("Item is larger than its directory entry says", 0) {}
};

class TAbBoundedOutputStream : public TStream {
 public:
  // Bytes may be written up to `limit` bytes beyond target's position now;
  // target is not owned.
  TAbBoundedOutputStream(TStream* target, int64_t limit);

  // Writes what fits below the bound, then raises EAbItemTooLarge when
  // anything was left over: the output stops exactly at the bound.
  int32_t Write(const void* buffer, int32_t count) override;
  int32_t Read(void* buffer, int32_t count) override { return target_->Read(buffer, count); }
  int64_t Seek(int64_t offset, uint16_t origin) override;
  int64_t Size() override { return target_->Size(); }
  void SetSize(int64_t new_size) override { target_->SetSize(new_size); }
  // The target's memory, when it lends some and count fits below the bound.
  uint8_t* DirectWriteBlock(int64_t count) override;
  void CommitDirect(int64_t count) override;

  // The bytes still allowed, and the test's bit bucket behind this stream
  // (null when the output goes somewhere).
  int64_t Room() const { return std::max<int64_t>(end_ - position_, 0); }
  TAbBitBucketStream* Bucket() const { return bucket_; }

 private:
  void PassOn(const uint8_t* bytes, int32_t count);

  TStream* target_;
  // Set when target_ is a test's bit bucket, which takes no more than its
  // ring at a time: decompressors write it as any other stream here.
  TAbBitBucketStream* bucket_;
  int64_t position_;
  int64_t end_;
};

}  // namespace velmora
