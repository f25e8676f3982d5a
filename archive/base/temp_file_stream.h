// Temporary files: "VMS" + up to four hex digits + ".TMP", made empty and
// exclusively in the system's temporary folder (or a given one).
#pragma once

#include <string>

#include "platform/file_stream.h"

namespace velmora {

// The full name of a new, empty file in Directory when that is an existing
// directory, else in the system's temporary folder. Empty when no name could
// be made (the folder is not writable, or its path is too long).
std::string MakeTempFileName(const std::string& Directory);

// A read/write stream over a fresh temporary file, opened exclusively.
// When delete_on_free is false the file outlives the stream (its buffers are
// flushed to disk first); when true the file is removed with the stream.
class TAbTempFileStream : public TFileStream {
 public:
  explicit TAbTempFileStream(bool delete_on_free);
  // Same as Close(), except that a failing flush is not raised: destructors
  // must not throw.
  ~TAbTempFileStream() override;

  const std::string& TempFileName() const { return FileName(); }
  bool DeleteOnFree() const { return delete_on_free_; }

  // Flushes (when the file is kept), closes and, when asked to, deletes the
  // file. A failing flush raises EOSError. Idempotent.
  void Close();

 private:
  void Finish(bool raise_flush_error);
  bool delete_on_free_;
  bool finished_ = false;
  // Registered for removal by a signal handler while the file exists
  // (it may hold decrypted data).
  int pending_token_ = -1;
};

}  // namespace velmora
