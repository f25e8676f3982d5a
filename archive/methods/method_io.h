// The two ends every decoder of this folder shares: the packed input, read
// in blocks and never past the item's packed size, and the output, which
// keeps the CRC-32, holds the declared size, reports progress and honours
// an abort.
#pragma once

#include <cstdint>
#include <memory>

#include "archive/methods/methods.h"

namespace velmora {

class TAbMethodInput {
 public:
  explicit TAbMethodInput(TAbMethodJob& job);

  // Reads the next block; false when the item's packed data is used up (or
  // the source ends before it). next and count then describe the block.
  bool Fill();
  const uint8_t* next = nullptr;
  size_t count = 0;

  // Bytes of the item's packed data not yet read.
  int64_t Left() const { return left_; }

  static constexpr int32_t kBlockSize = 64 * 1024;

 private:
  TStream* source_;
  int64_t left_;
  std::unique_ptr<uint8_t[]> block_;
};

class TAbMethodOutput {
 public:
  // method_name goes into the message of data longer than declared.
  TAbMethodOutput(TAbMethodJob& job, const char* method_name);

  // Passes decoded bytes on: raises EAbMethodDataError when they run past
  // the declared size (nothing of them is written then), EAbUserAbort when
  // the progress handler aborts.
  void Put(const uint8_t* data, size_t count);
  // Reports 100 when the last report was less; returns the CRC-32.
  uint32_t Finish();

  int64_t Written() const { return written_; }
  // Room left before the declared size.
  int64_t Room() const { return job_.UnpackedSize - written_; }
  // Raises the error of data longer than the declared size.
  [[noreturn]] void RefuseExcess() const;

 private:
  TAbMethodJob& job_;
  const char* method_name_;
  int64_t written_ = 0;
  uint32_t crc_ = 0xFFFFFFFFu;
  uint8_t last_percent_ = 0;
};

// A decode buffer for the decoders' output.
constexpr size_t kMethodOutputBlock = 64 * 1024;

// Passes a decoder's output on in whole kMethodOutputBlock pieces of the
// item's output (counted from its start), whatever pieces the decoder
// produced it in, and refuses data past the declared size at the piece
// holding its first byte too many. What reaches the destination before a
// failure, an abort or a progress report then depends on the data alone:
// two decoders of one format (one block after another, or all blocks at
// once on several threads) pass on exactly the same.
class TAbChunkedOutput {
 public:
  explicit TAbChunkedOutput(TAbMethodOutput& output);

  void Add(const uint8_t* data, size_t count);
  // Bytes given to Add so far (passed on or held).
  int64_t Added() const { return output_.Written() + static_cast<int64_t>(held_); }
  // Room left before the declared size, counting what is held.
  int64_t Room() const { return output_.Room() - static_cast<int64_t>(held_); }
  // Passes on what is held and finishes the output; returns the CRC-32.
  uint32_t Finish();

 private:
  TAbMethodOutput& output_;
  std::unique_ptr<uint8_t[]> piece_;
  size_t held_ = 0;
};

}  // namespace velmora
