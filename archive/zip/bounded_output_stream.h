// TAbBoundedOutputStream: the destination of one item as the extraction
// driver hands it to the decompressors. It lets through no more bytes than
// the item's directory entry promises, so a forged size can neither fill a
// disk (a kilobyte entry that inflates to gigabytes) nor pull the following
// items' bytes into a stored one; the item fails instead.
#pragma once

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
