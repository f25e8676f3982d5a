// The archive engine's exception family, its error codes and the message
// table every code's text comes from.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/exceptions.h"

namespace velmora {

// Error codes of the engine, as stored in EAbException::ErrorCode.
enum : int32_t {
  AbZipVersionNeeded = 1,
  AbUnknownCompressionMethod = 2,
  AbNoExtractionMethod = 3,
  AbInvalidPassword = 4,
  AbNoInsertionMethod = 5,
  AbInvalidFactor = 6,
  AbDuplicateName = 7,
  AbUnsupportedCompressionMethod = 8,
  AbUserAbort = 9,
  AbArchiveBusy = 10,
  AbDiskRequest = 11,
  AbLastDiskRequest = 12,
  AbBadSpanStream = 13,
  AbDiskNumRequest = 14,
  AbNoOverwriteSpanStream = 15,
  AbNoSpannedSelfExtract = 16,
  AbBlankDisk = 17,
  AbStreamFull = 18,
  AbNoSuchDirectory = 19,
  AbInflateBlockError = 20,
  AbBadStreamType = 21,
  AbTruncateError = 22,
  AbZipBadCRC = 23,
  AbZipBadStub = 24,
  AbFileNotFound = 25,
  AbInvalidLFH = 26,
  AbNoArchive = 27,
  AbErrZipInvalid = 28,
  AbReadError = 29,
  AbInvalidIndex = 30,
  AbInvalidThreshold = 31,
  AbUnhandledFileType = 35,
  AbSpanningNotSupported = 36,
  AbImageNumRequest = 37,
  AbLogCreateError = 38,
  AbBBSReadTooManyBytes = 40,
  AbBBSSeekOutsideBuffer = 41,
  AbBBSInvalidOrigin = 42,
  AbBBSWriteTooManyBytes = 43,
  AbSWSNotEndofStream = 80,
  AbSWSSeekFailed = 81,
  AbSWSWriteFailed = 82,
  AbSWSInvalidOrigin = 83,
  AbSWSInvalidNewOrigin = 84,
  AbVMSReadTooManyBytes = 200,
  AbVMSInvalidOrigin = 201,
  AbVMSErrorOpenSwap = 202,
  AbVMSSeekFail = 203,
  AbVMSReadFail = 204,
  AbVMSWriteFail = 205,
  AbVMSWriteTooManyBytes = 206,
  AbGzipInvalid = 400,
  AbGzipBadCRC = 401,
  AbGzipBadFileSize = 402,
};

// The text of a code from the engine's message table; empty when the code
// is not in it.
std::string ArchiveMessage(int32_t code);

// Number of (code, text) pairs in the table.
int ArchiveMessageCount();

class EAbException : public Exception {
 public:
  // A literal message; ErrorCode 0.
  explicit EAbException(std::string message) : Exception(std::move(message)) {}
  EAbException(std::string message, int32_t code) : Exception(std::move(message)), ErrorCode(code) {}
  int32_t ErrorCode = 0;
};

#define VELMORA_AB_CLASS(Name, Base, Code)                   \
  class Name : public Base {                                 \
   public:                                                   \
    Name() : Base(ArchiveMessage(Code), Code) {}             \
                                                             \
   protected:                                                \
    Name(std::string message, int32_t code)                  \
        : Base(std::move(message), code) {}                  \
  };

// A branch class of the tree: constructed only through its leaves.
#define VELMORA_AB_BRANCH(Name, Base)                        \
  class Name : public Base {                                 \
   public:                                                   \
    Name(std::string message, int32_t code)                  \
        : Base(std::move(message), code) {}                  \
  };

class EAbBadStream : public EAbException {
 public:
  EAbBadStream();
  // Wraps another exception: "Invalid Stream", CR LF, its message.
  explicit EAbBadStream(const Exception& inner);
  // Not owned; set only by the wrapping constructor.
  const Exception* InnerException = nullptr;
};

VELMORA_AB_CLASS(EAbArchiveBusy, EAbException, AbArchiveBusy)
VELMORA_AB_CLASS(EAbDuplicateName, EAbException, AbDuplicateName)
VELMORA_AB_CLASS(EAbFileNotFound, EAbException, AbFileNotFound)
VELMORA_AB_CLASS(EAbNoArchive, EAbException, AbNoArchive)
VELMORA_AB_CLASS(EAbUserAbort, EAbException, AbUserAbort)
VELMORA_AB_CLASS(EAbNoSuchDirectory, EAbException, AbNoSuchDirectory)
VELMORA_AB_CLASS(EAbUnhandledType, EAbException, AbUnhandledFileType)
VELMORA_AB_CLASS(EAbSpanningNotSupported, EAbException, AbSpanningNotSupported)

VELMORA_AB_BRANCH(EAbZipException, EAbException)
VELMORA_AB_CLASS(EAbZipBadSpanStream, EAbZipException, AbBadSpanStream)
VELMORA_AB_CLASS(EAbZipBadCRC, EAbZipException, AbZipBadCRC)
VELMORA_AB_CLASS(EAbZipInvalid, EAbZipException, AbErrZipInvalid)
VELMORA_AB_CLASS(EAbZipInvalidFactor, EAbZipException, AbInvalidFactor)
VELMORA_AB_CLASS(EAbZipInvalidLFH, EAbZipException, AbInvalidLFH)
VELMORA_AB_CLASS(EAbZipInvalidMethod, EAbZipException, AbUnknownCompressionMethod)
VELMORA_AB_CLASS(EAbZipInvalidPassword, EAbZipException, AbInvalidPassword)
VELMORA_AB_CLASS(EAbZipNoExtraction, EAbZipException, AbNoExtractionMethod)
VELMORA_AB_CLASS(EAbZipNoInsertion, EAbZipException, AbNoInsertionMethod)
VELMORA_AB_CLASS(EAbZipSpanOverwrite, EAbZipException, AbNoOverwriteSpanStream)
VELMORA_AB_CLASS(EAbZipStreamFull, EAbZipException, AbStreamFull)
VELMORA_AB_CLASS(EAbZipVersion, EAbZipException, AbZipVersionNeeded)
VELMORA_AB_CLASS(EAbReadError, EAbZipException, AbReadError)

// The swap-file memory stream's errors; their texts take values.
class EAbVMSInvalidOrigin : public EAbZipException {
 public:
  explicit EAbVMSInvalidOrigin(int32_t origin);
};
class EAbVMSErrorOpenSwap : public EAbZipException {
 public:
  explicit EAbVMSErrorOpenSwap(const std::string& swap_file);
};
class EAbVMSSeekFail : public EAbZipException {
 public:
  explicit EAbVMSSeekFail(const std::string& swap_file);
};
class EAbVMSReadFail : public EAbZipException {
 public:
  EAbVMSReadFail(int32_t count, const std::string& swap_file);
};
class EAbVMSWriteFail : public EAbZipException {
 public:
  EAbVMSWriteFail(int32_t count, const std::string& swap_file);
};

// The discarding stream's errors.
class EAbBBSReadTooManyBytes : public EAbZipException {
 public:
  explicit EAbBBSReadTooManyBytes(int32_t count);
};
VELMORA_AB_CLASS(EAbBBSSeekOutsideBuffer, EAbZipException, AbBBSSeekOutsideBuffer)
VELMORA_AB_CLASS(EAbBBSInvalidOrigin, EAbZipException, AbBBSInvalidOrigin)
class EAbBBSWriteTooManyBytes : public EAbZipException {
 public:
  explicit EAbBBSWriteTooManyBytes(int32_t count);
};

VELMORA_AB_BRANCH(EAbCabException, EAbException)
VELMORA_AB_CLASS(EAbNoCabinetDll, EAbCabException, 50)
VELMORA_AB_CLASS(EAbFCIFileOpenError, EAbCabException, 51)
VELMORA_AB_CLASS(EAbFCIFileReadError, EAbCabException, 52)
VELMORA_AB_CLASS(EAbFCIFileWriteError, EAbCabException, 53)
VELMORA_AB_CLASS(EAbFCIFileCloseError, EAbCabException, 54)
VELMORA_AB_CLASS(EAbFCIFileSeekError, EAbCabException, 55)
VELMORA_AB_CLASS(EAbFCIFileDeleteError, EAbCabException, 56)
VELMORA_AB_CLASS(EAbFCIAddFileError, EAbCabException, 57)
VELMORA_AB_CLASS(EAbFCICreateError, EAbCabException, 58)
VELMORA_AB_CLASS(EAbFDICopyError, EAbCabException, 61)
VELMORA_AB_CLASS(EAbFDICreateError, EAbCabException, 62)
VELMORA_AB_CLASS(EAbInvalidCabFile, EAbCabException, 64)

VELMORA_AB_BRANCH(EAbGzipException, EAbException)
VELMORA_AB_CLASS(EAbGzipBadCRC, EAbGzipException, AbGzipBadCRC)
VELMORA_AB_CLASS(EAbGzipBadFileSize, EAbGzipException, AbGzipBadFileSize)
VELMORA_AB_CLASS(EAbGzipInvalid, EAbGzipException, AbGzipInvalid)

#undef VELMORA_AB_CLASS
#undef VELMORA_AB_BRANCH

// The stop signal of a progress callback. Not an EAbException: no code.
class EAbAbortProgress : public Exception {
 public:
  using Exception::Exception;
};

// Error classes of a failure report.
enum TAbErrorClass : uint8_t {
  ekArchive = 0,  // an EAbException
  ekInOut = 1,
  ekFiler = 2,
  ekFileCreate = 3,
  ekFileOpen = 4,
  ekCabError = 5,  // never produced
  ekOther = 6,
};

struct TAbErrorClassification {
  TAbErrorClass ErrorClass = ekOther;
  int32_t ErrorCode = 0;
};

// Turns any exception into the (class, code) pair of a failure report.
TAbErrorClassification ClassifyException(const std::exception& e);

}  // namespace velmora
