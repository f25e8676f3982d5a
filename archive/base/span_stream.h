// TAbSpanStream: the stream an archive opened by file name reads through.
// An archive may be spread over several files (images); the stream holds a
// file stream over the current one and, when a read runs off its end, asks
// the owner for the next image and carries on there. A single-file archive
// simply stays in its one file.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_stream.h"
#include "platform/mapped_window.h"
#include "rtl/stream.h"

namespace velmora {

// Where the archive lies (a byte); the archive passes IsRemovableDrive's
// answer.
constexpr uint8_t mkRemovable = 0;
constexpr uint8_t mkFixed = 1;

// Asks the owner for image ImageNumber; the handler may replace ImageName
// and sets Abort to give up. Sender is the span stream.
using TAbRequestImageEvent =
    std::function<void(void* Sender, int32_t ImageNumber, std::string& ImageName, bool& Abort)>;
// Writing only: progress of the whole archive, 0 to 100.
using TAbSpanProgressEvent = std::function<void(uint8_t Progress, bool& Abort)>;

class TAbSpanStream : public TStream {
 public:
  // file_name must be a full path ("Full Path Required" otherwise). open_mode
  // fmCreate or one with write access makes a writing stream, any other a
  // reading one; a writing stream refuses media it cannot use ("Invalid
  // Media"). Errors opening the file are the file stream's own.
  TAbSpanStream(const std::string& file_name, int32_t threshold, uint8_t media_kind,
                uint16_t open_mode);
  ~TAbSpanStream() override;

  // Reads within the current image; a read of more than 0 bytes that starts
  // at its end moves on to the next image first (unless StayInImage or no
  // OnRequestImage handler). An abort raises EAbUserAbort, a missing image
  // EAbFileNotFound; the stream then has no file and reads 0 bytes.
  int32_t Read(void* buffer, int32_t count) override;
  // Read without the copy (TStream::ReadInPlace): data points inside the
  // stream's own buffer; same image rules and results as Read. A writing
  // stream has no such buffer and returns -1. A long run is served from a
  // view of the file itself (MappedWindow), so its bytes are never copied
  // into the buffer.
  int32_t ReadInPlace(const uint8_t*& data, int32_t count, int64_t run = 0) override;
  // Writing mode only; a reading stream writes nothing and returns 0. An
  // image never grows beyond the threshold (when there is one): the write is
  // cut short there.
  int32_t Write(const void* buffer, int32_t count) override;
  // Within the current image. With StayInImage the target is clamped to it;
  // without, a target outside it stays put when there is no OnRequestImage
  // handler, and otherwise switches to the previous image and lands as far
  // before its end (or past its start) as the target lay outside. A writing
  // stream does not move.
  int64_t Seek(int64_t offset, uint16_t origin) override;
  int64_t Size() override;
  void SetSize(int64_t new_size) override;

  // Free space of the drive holding name (-1 when it cannot be determined);
  // true when that is known, or else when no file of that name exists.
  bool CheckMedia(const std::string& name);

  bool StayInImage = false;
  // Set when a read has moved on to another image by itself; never cleared.
  bool ImageSwitched = false;
  TAbRequestImageEvent OnRequestImage;
  TAbSpanProgressEvent OnArchiveProgress;

  bool Writing() const { return writing_; }
  uint32_t ImageNumber() const { return image_number_; }
  // The owner that opens a stream on a later image says which one it is, so
  // that running off its end asks for the image after it rather than for
  // image 1.
  void SetImageNumber(uint32_t number) { image_number_ = number; }
  const std::string& ImageName() const { return image_name_; }
  int32_t BytesAvailable() const { return bytes_available_; }
  bool HasFile() const { return file_ != nullptr; }

 private:
  void OpenImage();
  void SwitchImage();
  // Before a read: at the end of the image, asks again for its size and
  // moves on to the next image when there is one to ask for. False when
  // the read is to return 0.
  bool ReadyToRead();
  int64_t SeekToOtherImage(int64_t target, int64_t old_size);

  bool writing_ = false;
  uint8_t media_kind_;
  int32_t threshold_;
  uint32_t image_number_ = 0;
  std::string image_name_;
  bool cancelled_ = false;
  int64_t bytes_written_ = 0;
  int32_t bytes_available_ = -1;
  std::unique_ptr<TFileStream> file_;
  uint16_t open_mode_;
  int64_t total_written_ = 0;
  // Reading mode keeps the file's position and size here rather than asking
  // the OS on every read; the size is asked again before leaving an image.
  int64_t position_ = 0;
  int64_t size_ = 0;
  // Reading mode reads through one buffer with pread: the directory, the
  // local headers and small items cost a system call per buffer, not one
  // per record. Holds image bytes [buffer_start_, buffer_start_ +
  // buffer_length_) of the current image.
  int32_t ReadThroughBuffer(void* buffer, int32_t count);
  std::vector<uint8_t> buffer_;
  int64_t buffer_start_ = 0;
  int32_t buffer_length_ = 0;
  MappedWindow view_;
};

}  // namespace velmora
