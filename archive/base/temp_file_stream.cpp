#include "archive/base/temp_file_stream.h"

#include <cstring>

#include "archive/base/directories.h"
#include "platform/folder_handles.h"
#include "platform/paths.h"
#include "platform/sysutils.h"
#include "platform/win32.h"
#include "rtl/exceptions.h"

namespace velmora {

namespace {
constexpr char kTempPrefix[] = "VMS";
// GetTempFileNameA adds "\" (when missing), "VMS", four hex digits and ".TMP"
// to the folder, and the whole must fit its MAX_PATH buffer.
constexpr size_t kTempNameSuffix = 14;
}  // namespace

std::string MakeTempFileName(const std::string& Directory) {
  std::string folder;
  if (IsDirectory(Directory)) {
    folder = Directory;
  } else {
    char temp_path[MAX_PATH] = {};
    const DWORD length = GetTempPathA(MAX_PATH, temp_path);
    if (length == 0 || length >= MAX_PATH) return {};
    folder.assign(temp_path, length);
  }
  if (folder.size() > MAX_PATH - kTempNameSuffix) return {};
  char name[MAX_PATH] = {};
  if (GetTempFileNameA(folder.c_str(), kTempPrefix, 0, name) == 0) return {};
  return std::string(name, strnlen(name, sizeof name));
}

TAbTempFileStream::TAbTempFileStream(bool delete_on_free)
    : TFileStream(MakeTempFileName(""), fmOpenReadWrite | fmShareExclusive),
      delete_on_free_(delete_on_free) {
  if (delete_on_free_) {
    if (std::optional<std::string> host = HostPath(FileName())) {
      pending_token_ = NotePendingTempFile(*host);
    }
  }
}

TAbTempFileStream::~TAbTempFileStream() { Finish(false); }

void TAbTempFileStream::Close() { Finish(true); }

void TAbTempFileStream::Finish(bool raise_flush_error) {
  if (finished_) return;
  finished_ = true;
  DWORD flush_error = ERROR_SUCCESS;
  if (!delete_on_free_ && !FlushFileBuffers(static_cast<HANDLE>(fd_))) {
    flush_error = GetLastError();
  }
  CloseHandle();
  if (delete_on_free_) DeleteFile(FileName());
  ForgetPendingTempFile(pending_token_);
  pending_token_ = -1;
  if (flush_error != ERROR_SUCCESS && raise_flush_error) throw EOSError(flush_error);
}

}  // namespace velmora
