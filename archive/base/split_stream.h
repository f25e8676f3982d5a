// Byte-split volumes: NAME.001, NAME.002, ... as 7-Zip's -v switch and
// split(1) make them are one archive cut into pieces at arbitrary bytes
// (unlike a spanned set, nothing in them knows of the cut). They are read
// as one stream over the parts in order, offsets counted from the first
// byte of the first part.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_stream.h"
#include "rtl/stream.h"

namespace velmora {

// Whether FileName (a Windows path) is the first part of a byte-split set:
// it ends in ".001" and a ".002" beside it exists.
bool IsByteSplitFirstPart(const std::string& FileName);

// Reading only; opens first_part and every consecutive part behind it
// (".002" up to ".999", to the first one missing). Writing does nothing.
class TAbByteSplitStream : public TStream {
 public:
  TAbByteSplitStream(const std::string& first_part, uint16_t open_mode);
  ~TAbByteSplitStream() override;

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, uint16_t origin) override;
  int64_t Size() override { return size_; }
  void SetSize(int64_t new_size) override;

  int PartCount() const { return static_cast<int>(parts_.size()); }

 private:
  struct Part {
    std::unique_ptr<TFileStream> file;
    int64_t start;  // of the part within the whole
    int64_t size;
  };
  std::vector<Part> parts_;
  int64_t size_ = 0;
  int64_t position_ = 0;
};

}  // namespace velmora
