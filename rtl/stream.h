// The stream family the engine reads and writes through: an abstract
// TStream, a stream over an OS file handle, and a memory stream.
// Positions and sizes are 64-bit; a single transfer is at most 2 GiB.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

// Seek origins.
constexpr uint16_t soFromBeginning = 0;
constexpr uint16_t soFromCurrent = 1;
constexpr uint16_t soFromEnd = 2;

class TStream {
 public:
  virtual ~TStream() = default;

  // Transfers up to count bytes; returns how many were transferred.
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  virtual int32_t Write(const void* buffer, int32_t count) = 0;
  // Returns the new position.
  virtual int64_t Seek(int64_t offset, uint16_t origin) = 0;

  virtual int64_t Size();
  virtual void SetSize(int64_t new_size);
  int64_t Position() { return Seek(0, soFromCurrent); }
  void SetPosition(int64_t position) { Seek(position, soFromBeginning); }

  // Raise EReadError / EWriteError on a short transfer.
  void ReadBuffer(void* buffer, int32_t count);
  void WriteBuffer(const void* buffer, int32_t count);

  // Copies count bytes from source's current position; a count of 0 copies
  // the whole of source from its start. Returns the bytes copied.
  int64_t CopyFrom(TStream& source, int64_t count);

  // Memory that holds the stream's next count bytes, lent to a writer that
  // would otherwise fill a buffer of its own and copy it in: a decoder then
  // produces its output in place. Null (the default) when the stream keeps
  // no such memory. Nothing counts as written until CommitDirect(n) takes
  // the first n bytes of it (n <= count) and moves the position past them;
  // any other call on the stream in between may move or drop the memory.
  virtual uint8_t* DirectWriteBlock(int64_t count);
  virtual void CommitDirect(int64_t count);

  // The reading side of the same: points data at up to count of the next
  // bytes in the stream's own memory and moves the position past them, as
  // Read would have read them; the memory stays valid until the next call on
  // the stream. run, when given, is how many bytes the caller means to go
  // on reading this way. Returns the bytes lent, 0 at the end as Read, or -1
  // (the default) when the stream keeps no such memory: nothing was read,
  // and Read is the way.
  virtual int32_t ReadInPlace(const uint8_t*& data, int32_t count, int64_t run = 0);

 protected:
  // What WriteBuffer raises after a short Write: EWriteError here; a stream
  // that knows why its write fell short says so.
  [[noreturn]] virtual void RaiseWriteError();
};

// File open modes: the access in the low bits, the sharing in bits 4 to 6.
constexpr uint16_t fmOpenRead = 0x0000;
constexpr uint16_t fmOpenWrite = 0x0001;
constexpr uint16_t fmOpenReadWrite = 0x0002;
constexpr uint16_t fmShareCompat = 0x0000;
constexpr uint16_t fmShareExclusive = 0x0010;
constexpr uint16_t fmShareDenyWrite = 0x0020;
constexpr uint16_t fmShareDenyRead = 0x0030;
constexpr uint16_t fmShareDenyNone = 0x0040;
constexpr uint16_t fmCreate = 0xFFFF;

// A stream over an open POSIX file descriptor, which it owns and closes.
class THandleStream : public TStream {
 public:
  explicit THandleStream(int fd) : fd_(fd) {}
  ~THandleStream() override;
  THandleStream(const THandleStream&) = delete;
  THandleStream& operator=(const THandleStream&) = delete;

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, uint16_t origin) override;
  // A regular file's size from one fstat; three seeks for anything else.
  int64_t Size() override;
  void SetSize(int64_t new_size) override;
  int Handle() const { return fd_; }
  // Closes the handle now and raises the write error close reports (a
  // network or quota file system may report a failed write only here);
  // the destructor's close cannot report.
  void Close();

 protected:
  // A full disk or a used-up quota is named with the folder of the file.
  [[noreturn]] void RaiseWriteError() override;
  void CloseHandle();
  int fd_ = -1;
  // errno of the last write that fell short (0 before any).
  int write_errno_ = 0;
};

// A growable stream in memory.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> data) : data_(std::move(data)) {}

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, uint16_t origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t new_size) override;
  // The vector itself, grown to hold count bytes from the position.
  uint8_t* DirectWriteBlock(int64_t count) override;
  void CommitDirect(int64_t count) override;

  const std::vector<uint8_t>& Data() const { return data_; }
  std::vector<uint8_t>& Data() { return data_; }
  void Clear() { data_.clear(); position_ = 0; }

 private:
  std::vector<uint8_t> data_;
  int64_t position_ = 0;
  // The size before DirectWriteBlock grew the vector, which CommitDirect
  // brings back to what was committed.
  int64_t size_before_direct_ = 0;
};

}  // namespace velmora
