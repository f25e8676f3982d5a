// A read-only view of part of an open file, so that large stored data can be
// checked and written straight from the page cache instead of being copied
// into a buffer first.
//
// A file that shrinks under a view (another process truncates the archive)
// would make touching the lost pages raise SIGBUS. The first view installs a
// handler that puts zero pages there instead and marks the view damaged:
// the reader sees bytes that fail the item's CRC, never a crash. Signals
// that hit no view go on to the handler that was there before.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmora {

class MappedWindow {
 public:
  MappedWindow() = default;
  ~MappedWindow() { Unmap(); }
  MappedWindow(const MappedWindow&) = delete;
  MappedWindow& operator=(const MappedWindow&) = delete;

  // Maps bytes [offset, offset + length) of fd, which must lie within the
  // file, and reads them in. False (and nothing mapped) when the system
  // will not map the file or every view slot is taken.
  bool Map(int fd, int64_t offset, size_t length);
  void Unmap();

  bool Covers(int64_t offset) const { return data_ != nullptr && offset >= start_ && offset < end_; }
  // The mapped byte at file offset `offset`, which Covers.
  const uint8_t* At(int64_t offset) const { return data_ + (offset - start_); }
  int64_t End() const { return end_; }
  // True once the file lost pages under the view (they read as zeros).
  bool Damaged() const;

 private:
  const uint8_t* data_ = nullptr;  // the byte at file offset start_
  void* mapping_ = nullptr;        // page-aligned, as mmap returned it
  size_t mapping_length_ = 0;
  int64_t start_ = 0;
  int64_t end_ = 0;
  int slot_ = -1;
};

}  // namespace velmora
