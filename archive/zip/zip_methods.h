// The extraction driver's way into the methods library: items compressed
// with bzip2, LZMA, Zstandard or xz, and WinZip AES items over any method
// the library decodes, with the archive's password questions and progress.
#pragma once

#include <cstdint>

#include "archive/methods/methods.h"
#include "rtl/stream.h"

namespace velmora {

class TAbZipArchive;
class TAbZipItem;
class TAbZipLocalFileHeader;

// True for the methods this path takes: bzip2, LZMA, Zstandard, xz and
// WinZip AES, which it extracts, and PPMd, which it refuses as an
// unsupported method. Their items are judged by what the engine can do, not
// by the version needed, which their writers set to 4.6 or 6.3.
bool IsMethodsLibraryItem(uint16_t method);

// Decodes the data of Item, whose local header has just been read, into
// Stream; returns the CRC-32 the driver checks. A WinZip AES item is
// authenticated first: a wrong password raises EAbZipInvalidPassword (after
// the archive's retries), a code that does not match EAbZipException with
// the bad CRC code. For AE-2, which stores no CRC-32, the stored value is
// returned once the code matched.
uint32_t ExtractMethodsLibraryData(TAbZipArchive& Archive, TAbZipItem& Item,
                                   const TAbZipLocalFileHeader& Header, TStream* Stream,
                                   uint32_t CheckValue);

}  // namespace velmora
