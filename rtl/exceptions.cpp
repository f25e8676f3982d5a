#include "rtl/exceptions.h"

#include <cerrno>
#include <cstring>

#include "rtl/format.h"

namespace velmora {

std::string EInOutError::MessageFor(int32_t code) {
  switch (code) {
    case 2: return "File not found";
    case 3: return "Invalid filename";
    case 4: return "Too many open files";
    case 5: return "File access denied";
    default: return Format("I/O error %d", {code});
  }
}

EInOutError::EInOutError(int32_t code) : Exception(MessageFor(code)), ErrorCode(code) {}

EFOpenError EFOpenError::ForFile(const std::string& file_name) {
  return EFOpenError(Format("Cannot open file %s", {file_name}));
}

EFCreateError EFCreateError::ForFile(const std::string& file_name) {
  return EFCreateError(Format("Cannot create file %s", {file_name}));
}

EDiskFull::EDiskFull(int err, const std::string& place)
    : EWriteError(Format(err == EDQUOT ? "Disk quota exceeded on the device holding %s"
                                       : "No space left on the device holding %s",
                         {place})),
      Cause(err) {}

namespace {
std::string OsErrorMessage(uint32_t code) {
  if (code == 0) return "A call to an OS function failed";
  char buffer[256];
  // The GNU strerror_r returns its text, which may not live in buffer.
  const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
  return Format("System Error.  Code: %d.", {code}) + "\r\n" + text;
}
}  // namespace

EOSError::EOSError(uint32_t code) : Exception(OsErrorMessage(code)), ErrorCode(code) {}

void Assert(bool condition, const std::string& message, const char* unit, int line) {
  if (condition) return;
  throw EAssertionFailed(Format("%s (%s, line %d)", {message, unit, line}));
}

}  // namespace velmora
