// Shrunk data of any shape: the expansion ends with the output or a clear
// error, never a crash, hang or overrun.
#include <cstddef>
#include <cstdint>

#include "archive/legacy/unzip_helper.h"
#include "rtl/exceptions.h"

namespace {

// Counts what is written and forgets it, so large outputs cost no memory.
class SinkStream : public velmora::TStream {
 public:
  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void*, int32_t count) override {
    position_ += count;
    if (position_ > size_) size_ = position_;
    return count;
  }
  int64_t Seek(int64_t offset, uint16_t origin) override {
    position_ = origin == velmora::soFromBeginning ? offset
                : origin == velmora::soFromCurrent ? position_ + offset
                                                   : size_ + offset;
    return position_;
  }

 private:
  int64_t position_ = 0;
  int64_t size_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velmora::TMemoryStream source(std::vector<uint8_t>(data, data + size));
  SinkStream output;
  velmora::TAbUnzipHelper helper(&source, nullptr, &output);
  helper.Method = 1;
  helper.PackedSize = static_cast<uint32_t>(size);
  helper.UnpackedSize = 1 << 20;
  try {
    helper.Execute();
  } catch (const velmora::Exception&) {
  }
  return 0;
}
