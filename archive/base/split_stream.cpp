#include "archive/base/split_stream.h"

#include <algorithm>
#include <cstdio>

#include "platform/sysutils.h"

namespace velmora {

namespace {

constexpr int kMostParts = 999;

// NAME.nnn for part number (1-based) of the set whose first part is first.
std::string PartName(const std::string& first, int number) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%03d", number);
  return first.substr(0, first.size() - 3) + digits;
}

}  // namespace

bool IsByteSplitFirstPart(const std::string& FileName) {
  const size_t n = FileName.size();
  return n > 4 && FileName.compare(n - 4, 4, ".001") == 0 && FileExists(PartName(FileName, 2));
}

TAbByteSplitStream::TAbByteSplitStream(const std::string& first_part, uint16_t open_mode) {
  for (int number = 1; number <= kMostParts; ++number) {
    const std::string name = PartName(first_part, number);
    if (number > 1 && !FileExists(name)) break;
    Part part{std::make_unique<TFileStream>(name, open_mode), size_, 0};
    part.size = part.file->Size();
    size_ += part.size;
    parts_.push_back(std::move(part));
  }
}

TAbByteSplitStream::~TAbByteSplitStream() = default;

int32_t TAbByteSplitStream::Read(void* buffer, int32_t count) {
  auto* out = static_cast<uint8_t*>(buffer);
  int32_t done = 0;
  // The part holding position_: the last whose start is not behind it.
  auto part = std::upper_bound(parts_.begin(), parts_.end(), position_,
                               [](int64_t at, const Part& p) { return at < p.start; });
  if (part == parts_.begin()) return 0;
  for (--part; done < count && part != parts_.end(); ++part) {
    const int64_t within = position_ - part->start;
    if (within >= part->size) continue;
    const auto wanted = static_cast<int32_t>(std::min<int64_t>(count - done, part->size - within));
    part->file->Seek(within, soFromBeginning);
    const int32_t got = part->file->Read(out + done, wanted);
    if (got <= 0) break;  // a part that shrank since it was opened
    done += got;
    position_ += got;
    if (got < wanted) break;
  }
  return done;
}

int32_t TAbByteSplitStream::Write(const void*, int32_t) { return 0; }
void TAbByteSplitStream::SetSize(int64_t) {}

int64_t TAbByteSplitStream::Seek(int64_t offset, uint16_t origin) {
  int64_t base = 0;
  if (origin == soFromCurrent) base = position_;
  if (origin == soFromEnd) base = size_;
  int64_t target = 0;
  if (__builtin_add_overflow(base, offset, &target)) target = offset < 0 ? 0 : size_;
  position_ = std::clamp<int64_t>(target, 0, size_);
  return position_;
}

}  // namespace velmora
