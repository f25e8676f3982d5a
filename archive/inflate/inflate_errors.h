// The Inflate decoder's exceptions. They derive from the runtime's base
// class directly, not from the archive family: callers tell an inflate
// failure from an archive failure by class.
#pragma once

#include <string>

#include "rtl/exceptions.h"

namespace velmora {

// Every decoding failure inside the decoder; the message is the internal
// cause, ending in the routine that found the fault.
class EAbInternalInflateError : public Exception {
 public:
  using Exception::Exception;
};

// What the caller of Inflate sees for an internal cause.
class EAbInflateError : public Exception {
 public:
  explicit EAbInflateError(const std::string& cause)
      : Exception("Inflate error, possibly a corrupted compressed stream. (Internal cause: " +
                  cause + ")") {}
};

class EAbInflatePasswordError : public Exception {
 public:
  EAbInflatePasswordError() : Exception("Inflate: stream is encrypted but passphrase is wrong") {}
};

// The output limit was reached; ends decoding normally.
class EAbPartSizedInflate : public Exception {
 public:
  EAbPartSizedInflate() : Exception("") {}
};

// Raises EAbInternalInflateError; out of line so hot loops stay small.
[[noreturn]] void RaiseInflateCause(const char* cause);

// The internal causes, text for text.
namespace inflate_cause {
inline constexpr const char* kDiscardCount =
    "count of bits must be between 1 and 32 inclusive [TAbDfInBitStream.DiscardBits]";
inline constexpr const char* kDiscardNoData =
    "no more compressed data in stream [TAbDfInBitStream.DiscardBits]";
inline constexpr const char* kReadBitNoData =
    "no more compressed data in stream [TAbDfInBitStream.ReadBit]";
inline constexpr const char* kReadBitsCount =
    "count of bits must be between 1 and 16 inclusive [TAbDfInBitStream.ReadBits]";
inline constexpr const char* kReadBitsNoData =
    "no more compressed data in stream [TAbDfInBitStream.ReadBits]";
inline constexpr const char* kReadBufferNoData =
    "no more compressed data in stream [TAbDfInBitStream.ReadBuffer]";
inline constexpr const char* kBlockType = "starting new block, but invalid block type [Inflate]";
inline constexpr const char* kStoredLength =
    "invalid stored block (length and NOT length do not match) [InflateStoredBlock]";
inline constexpr const char* kLiteralCount =
    "count of literal codes in dynamic block is greater than 286 [InflateDynamicBlock]";
inline constexpr const char* kDistanceCount =
    "count of distance codes in dynamic block is greater than 30 [InflateDynamicBlock]";
inline constexpr const char* kCodeLengthSymbol =
    "decoded a symbol not between 0 and 18 {ReadLitDistCodeLengths}";
inline constexpr const char* kCodeLengthLength =
    "decoded a code length out of range {ReadLitDistCodeLengths}";
inline constexpr const char* kLengthSymbol =
    "decoded an invalid length symbol: greater than 285 [DecodeData]";
inline constexpr const char* kDistanceSymbol =
    "decoded an invalid distance symbol: greater than 29 [DecodeData]";
// Faults the decoder mends rather than follows: no reads before the output,
// no repeat without a previous length, no Deflate64 distance without a code,
// and no over-subscribed code, whose collisions make no sense as data.
inline constexpr const char* kDistanceTooFar =
    "invalid distance: reaches back before the start of the output [DecodeData]";
inline constexpr const char* kRepeatWithoutPrevious =
    "repeat of the previous code length, but there is none {ReadLitDistCodeLengths}";
inline constexpr const char* kDistance64Symbol =
    "decoded an invalid distance symbol: no code matches [DecodeData]";
inline constexpr const char* kOverSubscribed =
    "code lengths over-subscribe the code space [InflateDynamicBlock]";
}  // namespace inflate_cause

}  // namespace velmora
