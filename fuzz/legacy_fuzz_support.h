// What the legacy expanders' fuzz targets share: a sink for the output and
// one run of the unzip helper that swallows the engine's own errors (the
// clear failures we want) and lets anything else crash the target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "archive/legacy/unzip_helper.h"
#include "rtl/exceptions.h"

namespace velmora::fuzz {

// Counts what is written and forgets it, so large outputs cost no memory.
class SinkStream : public TStream {
 public:
  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void*, int32_t count) override {
    position_ += count;
    if (position_ > size_) size_ = position_;
    return count;
  }
  int64_t Seek(int64_t offset, uint16_t origin) override {
    position_ = origin == soFromBeginning  ? offset
                : origin == soFromCurrent ? position_ + offset
                                          : size_ + offset;
    return position_;
  }

 private:
  int64_t position_ = 0;
  int64_t size_ = 0;
};

// Expands packed with the given method; setup may set the method's own
// fields (the implode dictionary and tree count).
inline void ExpandLegacy(uint8_t method, const uint8_t* packed, size_t packed_size,
                         uint32_t unpacked_size,
                         const std::function<void(TAbUnzipHelper&)>& setup = {}) {
  TMemoryStream source(std::vector<uint8_t>(packed, packed + packed_size));
  SinkStream output;
  TAbUnzipHelper helper(&source, nullptr, &output);
  helper.Method = method;
  helper.PackedSize = static_cast<uint32_t>(packed_size);
  helper.UnpackedSize = unpacked_size;
  if (setup) setup(helper);
  try {
    helper.Execute();
  } catch (const Exception&) {
  }
}

}  // namespace velmora::fuzz
