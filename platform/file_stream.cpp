// TFileStream over a file named by a Windows path.
#include "platform/file_stream.h"

#include <fcntl.h>

#include "platform/host_files.h"
#include "platform/paths.h"
#include "rtl/exceptions.h"

namespace velmora {

namespace {

int OpenForStream(const std::string& file_name, uint16_t mode) {
  std::optional<std::string> host_path = HostPath(file_name);
  host::OpenRequest request;
  if (mode == fmCreate) {
    // fmCreate makes the file or empties it, open for reading and writing.
    request.access_flags = O_RDWR;
    request.create = request.truncate = true;
    int fd = host_path ? host::OpenHostFile(*host_path, request, nullptr) : -1;
    if (fd < 0) throw EFCreateError::ForFile(file_name);
    return fd;
  }
  switch (mode & 0x0F) {
    case fmOpenRead: request.access_flags = O_RDONLY; break;
    case fmOpenWrite: request.access_flags = O_WRONLY; break;
    case fmOpenReadWrite: request.access_flags = O_RDWR; break;
    default: SetLastError(ERROR_INVALID_PARAMETER); throw EFOpenError::ForFile(file_name);
  }
  // Exclusive sharing is the one mode that keeps every other handle out;
  // the deny-write and deny-none modes share with the others of their kind.
  request.sharing = (mode & 0xF0) == fmShareExclusive ? host::Sharing::kExclusive
                                                      : host::Sharing::kShared;
  int fd = host_path ? host::OpenHostFile(*host_path, request, nullptr) : -1;
  if (fd < 0) throw EFOpenError::ForFile(file_name);
  return fd;
}

}  // namespace

TFileStream::TFileStream(const std::string& file_name, uint16_t mode)
    : THandleStream(OpenForStream(file_name, mode)), file_name_(file_name) {}

}  // namespace velmora
