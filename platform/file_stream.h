// TFileStream: a stream over a file named by a Windows path, opened with
// the runtime's mode bits (fmOpenRead, fmOpenReadWrite | fmShareDenyNone,
// fmCreate, ...). Raises EFOpenError "Cannot open file %s" or EFCreateError
// "Cannot create file %s" with the name as given.
#pragma once

#include <string>

#include "rtl/stream.h"

namespace velmora {

class TFileStream : public THandleStream {
 public:
  TFileStream(const std::string& file_name, uint16_t mode);
  const std::string& FileName() const { return file_name_; }

 private:
  std::string file_name_;
};

}  // namespace velmora
