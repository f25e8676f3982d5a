#include "archive/zip/text_mode.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

namespace velmora {

namespace {
constexpr uint8_t kCr = '\r';
constexpr uint8_t kLf = '\n';
constexpr uint8_t kDosEnd = 0x1A;  // ^Z
}  // namespace

size_t TAbTextModeConverter::Convert(const uint8_t* in, size_t count, uint8_t* out) {
  uint8_t* const start = out;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t c = in[i];
    if (pending_cr_) {
      pending_cr_ = false;
      *out++ = kLf;
      if (c == kLf) continue;  // CR LF: one LF
    }
    if (c == kCr) {
      pending_cr_ = true;
    } else if (c != kDosEnd) {
      *out++ = c;
    }
  }
  return static_cast<size_t>(out - start);
}

size_t TAbTextModeConverter::Finish(uint8_t* out) {
  if (!pending_cr_) return 0;
  pending_cr_ = false;
  *out = kLf;
  return 1;
}

bool ConvertFileToTextMode(int fd) {
  constexpr size_t kPiece = 1 << 16;
  std::vector<uint8_t> in(kPiece), out(kPiece + 1);
  TAbTextModeConverter converter;
  // What is written never passes what was read, so one file will do.
  off_t read_at = 0, write_at = 0;
  const auto put = [&](size_t count) {
    for (size_t done = 0; done < count;) {
      const ssize_t n = ::pwrite(fd, out.data() + done, count - done, write_at);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
      write_at += n;
    }
    return true;
  };
  for (;;) {
    const ssize_t got = ::pread(fd, in.data(), kPiece, read_at);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    read_at += got;
    if (!put(converter.Convert(in.data(), static_cast<size_t>(got), out.data()))) return false;
  }
  if (!put(converter.Finish(out.data()))) return false;
  return ::ftruncate(fd, write_at) == 0;
}

}  // namespace velmora
