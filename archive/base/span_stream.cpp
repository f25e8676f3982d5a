#include "archive/base/span_stream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "archive/base/directories.h"
#include "archive/base/exceptions.h"
#include "archive/base/path_names.h"
#include "platform/sysutils.h"
#include "platform/win32.h"

namespace velmora {

namespace {

// The read buffer: large enough that a directory or a run of small items
// takes few reads, small enough for the memory of a command line tool.
constexpr int32_t kReadBufferSize = 256 * 1024;
// In-place runs at least this long are read through a view of the file, at
// most kViewSize at a time: below it the view's set-up costs more than the
// copy it saves.
constexpr int64_t kViewAtLeast = 1024 * 1024;
constexpr int64_t kViewSize = 2 * 1024 * 1024;

// pread whole, or to the end of the file.
int32_t ReadAt(int fd, void* buffer, int32_t count, int64_t offset) {
  int32_t done = 0;
  auto* out = static_cast<uint8_t*>(buffer);
  while (done < count) {
    ssize_t n = ::pread(fd, out + done, static_cast<size_t>(count - done), offset + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<int32_t>(n);
  }
  return done;
}

// GetDriveTypeA's answer for a RAM disk, whose free space says nothing about
// room for an image.
constexpr UINT kDriveRamDisk = 6;

// Free space of the drive holding name, at most 2^31 - 1; -1 when it cannot
// be determined.
int32_t FreeSpaceFor(const std::string& name) {
  if (PathKind(name) != 2 || name.size() > kMaxPathLength) return -1;
  std::string drive, directory, file;
  SplitPath(name, drive, directory, file);
  const std::string root = drive + "\\";
  const UINT type = GetDriveTypeA(root.c_str());
  if (type == DRIVE_UNKNOWN || type == DRIVE_NO_ROOT_DIR || type == kDriveRamDisk) return -1;
  uint64_t free_to_caller = 0, total = 0, total_free = 0;
  if (!GetDiskFreeSpaceExA(ExtractFilePath(name).c_str(), &free_to_caller, &total, &total_free)) {
    return -1;
  }
  constexpr auto kMost = std::numeric_limits<int32_t>::max();
  return free_to_caller > static_cast<uint64_t>(kMost) ? kMost : static_cast<int32_t>(free_to_caller);
}

// base + offset, held within the 64-bit range.
int64_t AddClamped(int64_t base, int64_t offset) {
  int64_t sum;
  if (!__builtin_add_overflow(base, offset, &sum)) return sum;
  return offset < 0 ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
}

}  // namespace

TAbSpanStream::TAbSpanStream(const std::string& file_name, int32_t threshold,
                             uint8_t media_kind, uint16_t open_mode)
    : media_kind_(media_kind),
      threshold_(threshold),
      image_name_(file_name),
      open_mode_(open_mode) {
  if (PathKind(file_name) != 2) throw EAbException("Full Path Required");
  writing_ = open_mode == fmCreate || (open_mode & fmOpenWrite) != 0;
  // A reading stream opens whatever CheckMedia says; it runs for the free
  // space it records.
  if (!CheckMedia(file_name) && writing_) throw EAbException("Invalid Media");
  OpenImage();
}

TAbSpanStream::~TAbSpanStream() = default;

bool TAbSpanStream::CheckMedia(const std::string& name) {
  bytes_available_ = FreeSpaceFor(name);
  return bytes_available_ != -1 || !FileExists(name);
}

void TAbSpanStream::OpenImage() {
  view_.Unmap();
  file_ = std::make_unique<TFileStream>(image_name_, open_mode_);
  bytes_written_ = 0;
  position_ = 0;
  buffer_length_ = 0;
  size_ = writing_ ? 0 : file_->Size();
}

int32_t TAbSpanStream::ReadThroughBuffer(void* buffer, int32_t count) {
  const int fd = file_->Handle();
  auto* out = static_cast<uint8_t*>(buffer);
  int32_t done = 0;
  while (done < count) {
    const int64_t at = position_ + done;
    if (at >= buffer_start_ && at < buffer_start_ + buffer_length_) {
      const auto offset = static_cast<size_t>(at - buffer_start_);
      const int32_t n = std::min<int32_t>(count - done, buffer_length_ - static_cast<int32_t>(offset));
      std::memcpy(out + done, buffer_.data() + offset, static_cast<size_t>(n));
      done += n;
      continue;
    }
    if (count - done >= kReadBufferSize) {
      // A large read goes straight to the caller.
      const int32_t n = ReadAt(fd, out + done, count - done, at);
      done += n;
      break;
    }
    if (buffer_.empty()) buffer_.resize(kReadBufferSize);
    buffer_start_ = at;
    buffer_length_ = ReadAt(fd, buffer_.data(), kReadBufferSize, at);
    if (buffer_length_ == 0) break;
  }
  return done;
}

// Frees the current image, asks the owner for the one now numbered
// image_number_ and opens it.
void TAbSpanStream::SwitchImage() {
  view_.Unmap();
  file_.reset();
  const auto number = static_cast<int32_t>(image_number_);
  // Removable media count their disks from 1.
  OnRequestImage(this, media_kind_ == mkRemovable ? number + 1 : number, image_name_, cancelled_);
  if (cancelled_) throw EAbUserAbort();
}

bool TAbSpanStream::ReadyToRead() {
  if (StayInImage || writing_ || position_ < size_) return true;
  size_ = file_->Size();  // it may have grown since it was opened
  if (position_ < size_) return true;
  if (!OnRequestImage) return false;
  ++image_number_;
  SwitchImage();
  ImageSwitched = true;
  if (!CheckMedia(image_name_)) throw EAbFileNotFound();
  OpenImage();
  return true;
}

int32_t TAbSpanStream::Read(void* buffer, int32_t count) {
  if (!file_ || count <= 0) return 0;
  if (!ReadyToRead()) return 0;
  if (writing_) return file_->Read(buffer, count);
  const int32_t n = ReadThroughBuffer(buffer, count);
  position_ += n;
  return n;
}

int32_t TAbSpanStream::ReadInPlace(const uint8_t*& data, int32_t count, int64_t run) {
  if (writing_) return -1;
  if (!file_ || count <= 0) return 0;
  if (!ReadyToRead()) return 0;
  const bool buffered = position_ >= buffer_start_ && position_ < buffer_start_ + buffer_length_;
  if (!buffered && !view_.Covers(position_) && run >= kViewAtLeast && position_ < size_) {
    const int64_t length = std::min({run, kViewSize, size_ - position_});
    (void)view_.Map(file_->Handle(), position_, static_cast<size_t>(length));
  }
  if (!buffered && view_.Covers(position_)) {
    const auto n = static_cast<int32_t>(std::min<int64_t>(count, view_.End() - position_));
    data = view_.At(position_);
    position_ += n;
    return n;
  }
  if (!buffered) {
    if (buffer_.empty()) buffer_.resize(kReadBufferSize);
    buffer_start_ = position_;
    buffer_length_ = ReadAt(file_->Handle(), buffer_.data(), kReadBufferSize, position_);
    if (buffer_length_ == 0) return 0;
  }
  const auto offset = static_cast<int32_t>(position_ - buffer_start_);
  const int32_t n = std::min(count, buffer_length_ - offset);
  data = buffer_.data() + offset;
  position_ += n;
  return n;
}

int32_t TAbSpanStream::Write(const void* buffer, int32_t count) {
  if (!writing_ || !file_ || count <= 0) return 0;
  int64_t room = count;
  if (threshold_ > 0) room = std::clamp<int64_t>(threshold_ - bytes_written_, 0, count);
  const int32_t n = file_->Write(buffer, static_cast<int32_t>(room));
  bytes_written_ += n;
  total_written_ += n;
  return n;
}

int64_t TAbSpanStream::Seek(int64_t offset, uint16_t origin) {
  if (!file_) return 0;  // a failed switch left no image
  if (writing_) return file_->Position();
  if (origin == soFromEnd) size_ = file_->Size();
  int64_t target = position_;
  switch (origin) {
    case soFromBeginning: target = offset; break;
    case soFromCurrent: target = AddClamped(position_, offset); break;
    case soFromEnd: target = AddClamped(size_, offset); break;
    default: break;
  }
  if (target > size_) size_ = file_->Size();
  if (StayInImage) target = std::clamp<int64_t>(target, 0, size_);
  if (target >= 0 && target <= size_) {
    // Reads go by position (pread), so a move costs no system call.
    position_ = target;
    return position_;
  }
  if (!OnRequestImage) return position_;
  return SeekToOtherImage(target, size_);
}

// A target outside the image: go back one image (for a target past the end
// as well) and land as far before its end, or past its start, as the target
// lay outside the old one. Never used on the way ZIP archives are read.
int64_t TAbSpanStream::SeekToOtherImage(int64_t target, int64_t old_size) {
  --image_number_;
  SwitchImage();
  if (!CheckMedia(image_name_)) throw EAbFileNotFound();
  OpenImage();
  int64_t landing = target < 0 ? AddClamped(size_, target) : target - old_size;
  landing = std::clamp<int64_t>(landing, 0, size_);
  position_ = landing;
  return position_;
}

int64_t TAbSpanStream::Size() {
  if (!file_) return 0;
  const int64_t size = file_->Size();
  if (!writing_) size_ = size;
  return size;
}

void TAbSpanStream::SetSize(int64_t new_size) {
  if (!file_) return;
  file_->SetSize(new_size);
  if (!writing_) {
    size_ = file_->Size();
    position_ = std::min(position_, size_);
    buffer_length_ = 0;
  }
}

}  // namespace velmora
