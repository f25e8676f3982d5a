// The runtime's exception family: the base class with its message, and the
// errors that files, streams, the OS and assertions raise.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace velmora {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  ~Exception() override = default;

  const std::string& Message() const noexcept { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// Input/output error of the runtime, with the OS error code it came from.
class EInOutError : public Exception {
 public:
  explicit EInOutError(int32_t code);
  EInOutError(std::string message, int32_t code)
      : Exception(std::move(message)), ErrorCode(code) {}
  // "File not found" for 2, ... "I/O error %d" for codes without a text.
  static std::string MessageFor(int32_t code);
  int32_t ErrorCode = 0;
};

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};

// The filer errors include the short-transfer errors of ReadBuffer and
// WriteBuffer; the open and create errors are not filer errors.
class EFilerError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

class EReadError : public EFilerError {
 public:
  EReadError() : EFilerError("Stream read error") {}
  using EFilerError::EFilerError;
};

class EWriteError : public EFilerError {
 public:
  EWriteError() : EFilerError("Stream write error") {}
  using EFilerError::EFilerError;
};

// A write refused because the file system holding `place` (a folder) is
// full or the user's quota on it is used up; the words say so, since
// "Stream write error" leaves a user guessing what to free.
class EDiskFull : public EWriteError {
 public:
  // err: ENOSPC ("No space left on the device holding %s") or EDQUOT
  // ("Disk quota exceeded on the device holding %s").
  EDiskFull(int err, const std::string& place);
  int Cause = 0;
};

class EFileStreamError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

class EFOpenError : public EFileStreamError {
 public:
  // "Cannot open file %s"
  static EFOpenError ForFile(const std::string& file_name);
  using EFileStreamError::EFileStreamError;
};

class EFCreateError : public EFileStreamError {
 public:
  // "Cannot create file %s"
  static EFCreateError ForFile(const std::string& file_name);
  using EFileStreamError::EFileStreamError;
};

// A failed OS call: "System Error.  Code: %d." and the system's text, or
// "A call to an OS function failed" for code 0.
class EOSError : public Exception {
 public:
  explicit EOSError(uint32_t code);
  uint32_t ErrorCode = 0;
};

class EAssertionFailed : public Exception {
 public:
  using Exception::Exception;
};

class EInvalidCast : public Exception {
 public:
  EInvalidCast() : Exception("Invalid class typecast") {}
  using Exception::Exception;
};

// Raises EAssertionFailed with "%s (%s, line %d)" when condition is false.
// Internal consistency checks only; ordinary input never reaches one.
void Assert(bool condition, const std::string& message, const char* unit, int line);

#define VELMORA_ASSERT(condition, message, unit) \
  ::velmora::Assert((condition), (message), (unit), __LINE__)

}  // namespace velmora
