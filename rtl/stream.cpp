#include "rtl/stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "rtl/exceptions.h"

namespace velmora {

int64_t TStream::Size() {
  int64_t position = Seek(0, soFromCurrent);
  int64_t size = Seek(0, soFromEnd);
  Seek(position, soFromBeginning);
  return size;
}

void TStream::SetSize(int64_t) { throw EStreamError("Stream cannot change its size"); }

void TStream::ReadBuffer(void* buffer, int32_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError();
}

void TStream::WriteBuffer(const void* buffer, int32_t count) {
  if (count != 0 && Write(buffer, count) != count) RaiseWriteError();
}

void TStream::RaiseWriteError() { throw EWriteError(); }

uint8_t* TStream::DirectWriteBlock(int64_t) { return nullptr; }

void TStream::CommitDirect(int64_t) {}

int32_t TStream::ReadInPlace(const uint8_t*&, int32_t, int64_t) { return -1; }

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  constexpr int32_t kChunk = 1 << 16;
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(count, kChunk)));
  int64_t left = count;
  while (left > 0) {
    int32_t n = static_cast<int32_t>(std::min<int64_t>(left, kChunk));
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    left -= n;
  }
  return count;
}

THandleStream::~THandleStream() { CloseHandle(); }

namespace {

// The folder holding the file open on fd, as the kernel names it; a file
// already unlinked (or made without a name) is named by its folder all the
// same. Empty when /proc cannot tell.
std::string FolderOfHandle(int fd) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  std::string path(PATH_MAX, '\0');
  const ssize_t n = ::readlink(link, path.data(), path.size());
  if (n <= 0 || path[0] != '/') return {};
  path.resize(static_cast<size_t>(n));
  const size_t slash = path.rfind('/');
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

void THandleStream::RaiseWriteError() {
  if (write_errno_ == ENOSPC || write_errno_ == EDQUOT) {
    std::string folder = FolderOfHandle(fd_);
    throw EDiskFull(write_errno_, folder.empty() ? std::string("the file being written") : folder);
  }
  TStream::RaiseWriteError();
}

void THandleStream::Close() {
  if (fd_ < 0) return;
  // Named while the handle still tells; after close nothing does.
  const std::string folder = FolderOfHandle(fd_);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) == 0 || errno == EINTR) return;  // EINTR: Linux has closed it
  write_errno_ = errno;
  if (write_errno_ == ENOSPC || write_errno_ == EDQUOT) {
    throw EDiskFull(write_errno_, folder.empty() ? std::string("the file being closed") : folder);
  }
  throw EWriteError();
}

void THandleStream::CloseHandle() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

int32_t THandleStream::Read(void* buffer, int32_t count) {
  if (count <= 0 || fd_ < 0) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  int32_t done = 0;
  while (done < count) {
    ssize_t n = ::read(fd_, out + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<int32_t>(n);
  }
  return done;
}

int32_t THandleStream::Write(const void* buffer, int32_t count) {
  if (count <= 0 || fd_ < 0) return 0;
  const auto* in = static_cast<const uint8_t*>(buffer);
  int32_t done = 0;
  while (done < count) {
    ssize_t n = ::write(fd_, in + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // A write of 0 bytes to a regular file means no room is left.
      write_errno_ = n == 0 ? ENOSPC : errno;
      break;
    }
    done += static_cast<int32_t>(n);
  }
  return done;
}

int64_t THandleStream::Seek(int64_t offset, uint16_t origin) {
  int whence = origin == soFromCurrent ? SEEK_CUR : origin == soFromEnd ? SEEK_END : SEEK_SET;
  off_t result = ::lseek(fd_, static_cast<off_t>(offset), whence);
  return result < 0 ? -1 : static_cast<int64_t>(result);
}

int64_t THandleStream::Size() {
  struct stat st {};
  if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) return static_cast<int64_t>(st.st_size);
  return TStream::Size();
}

void THandleStream::SetSize(int64_t new_size) {
  if (::ftruncate(fd_, static_cast<off_t>(new_size)) != 0) throw EOSError(static_cast<uint32_t>(errno));
  if (Position() > new_size) Seek(new_size, soFromBeginning);
}

int32_t TMemoryStream::Read(void* buffer, int32_t count) {
  if (count <= 0 || position_ >= Size()) return 0;
  int64_t n = std::min<int64_t>(count, Size() - position_);
  std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return static_cast<int32_t>(n);
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  int64_t end = position_ + count;
  if (end > Size()) data_.resize(static_cast<size_t>(end));
  std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, uint16_t origin) {
  int64_t base = origin == soFromCurrent ? position_ : origin == soFromEnd ? Size() : 0;
  int64_t target = base + offset;
  if (target < 0) return -1;
  position_ = target;
  return position_;
}

uint8_t* TMemoryStream::DirectWriteBlock(int64_t count) {
  if (count < 0 || position_ > INT64_MAX - count) return nullptr;
  size_before_direct_ = Size();
  const int64_t end = position_ + count;
  if (end > Size()) data_.resize(static_cast<size_t>(end));
  return data_.data() + position_;
}

void TMemoryStream::CommitDirect(int64_t count) {
  position_ += count;
  data_.resize(static_cast<size_t>(std::max(size_before_direct_, position_)));
}

void TMemoryStream::SetSize(int64_t new_size) {
  data_.resize(static_cast<size_t>(std::max<int64_t>(new_size, 0)));
  if (position_ > new_size) position_ = new_size;
}

}  // namespace velmora
