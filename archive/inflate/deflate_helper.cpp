#include "archive/inflate/deflate_helper.h"

#include <fcntl.h>

#include <algorithm>
#include <cstring>

#include "rtl/exceptions.h"

namespace velmora {

namespace {
constexpr const char* kUnit = "AbDfBase";
}

void TAbDeflateHelper::Assign(const TAbDeflateHelper& other) {
  PasswordCheckValue = other.PasswordCheckValue;
  LogFileName = other.LogFileName;
  OnProgressPercent = other.OnProgressPercent;
  Options = other.Options;
  OutputLimit = other.OutputLimit;
  Passphrase = other.Passphrase;
  SourceSize = other.SourceSize;
  KnownUnpackedSize = other.KnownUnpackedSize;
}

TAbLogger::TAbLogger(const std::string& file_name) : buffer_(new uint8_t[kBufferSize]) {
  Assert(!file_name.empty(), "TAbLogger.Create: a filename must be provided for the logger", kUnit,
         458);
  int fd = ::open(file_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw EFCreateError::ForFile(file_name);
  file_ = std::make_unique<THandleStream>(fd);
}

TAbLogger::~TAbLogger() {
  try {
    Flush();
  } catch (...) {
    // Losing the end of a diagnostic log is not worth a crash.
  }
}

void TAbLogger::Flush() {
  if (position_ > 0) file_->WriteBuffer(buffer_.get(), position_);
  position_ = 0;
}

void TAbLogger::WriteLine(const std::string& text) {
  static constexpr const char* kDelimiters[] = {"\r\n", "\n", ""};
  WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
  const char* delimiter = kDelimiters[LineDelimiter];
  WriteBuffer(delimiter, static_cast<int32_t>(std::strlen(delimiter)));
}

int32_t TAbLogger::Read(void*, int32_t) {
  Assert(false, "TAbLogger.Read: loggers are write-only, no reading allowed", kUnit, 517);
  return 0;
}

int32_t TAbLogger::Write(const void* buffer, int32_t count) {
  const auto* in = static_cast<const uint8_t*>(buffer);
  int32_t left = count;
  while (left > 0) {
    if (position_ == kBufferSize) Flush();
    int32_t n = std::min(left, kBufferSize - position_);
    std::memcpy(buffer_.get() + position_, in, static_cast<size_t>(n));
    position_ += n;
    in += n;
    left -= n;
  }
  return count < 0 ? 0 : count;
}

int64_t TAbLogger::Seek(int64_t offset, uint16_t origin) {
  if (offset == 0 && (origin == soFromCurrent || origin == soFromEnd))
    return file_->Seek(0, soFromCurrent) + position_;
  Assert(false, "TAbLogger.Seek: loggers are write-only, no seeking allowed", kUnit, 539);
  return -1;
}

}  // namespace velmora
