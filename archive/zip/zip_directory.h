// Finding a ZIP directory in a stream: the search for the end of central
// directory record, and the checks that tell a plain ZIP, a spanned set and
// a ZIP appended to a program apart.
#pragma once

#include <cstdint>

#include "rtl/stream.h"

namespace velmora {

enum TAbArchiveKind : uint8_t {
  akUnknown = 0,
  akZip = 1,
  akSpannedZip = 2,
  akSelfExtractingZip = 3,
  akTar = 4,
  akGzip = 5,
  akGzippedTar = 6,
  akCabinet = 7,
};

// The position of the end record, with the stream positioned at it; or -1.
// Tries the last 22 bytes first (an archive without a comment), then reads
// windows backwards from the end. On a span stream the search stays in the
// current image, and after a success it goes on staying there.
int64_t FindEndOfDirectory(TStream& stream);

// akSpannedZip when the stream starts with a spanned-set marker, akZip when
// an end record is found, else akUnknown. The position is restored.
TAbArchiveKind CheckZipFile(TStream& stream);

// akSelfExtractingZip when the stream starts like a program ("MZ", or an
// ELF header) and CheckZipFile finds a plain ZIP in it; else akUnknown. The
// position is restored.
TAbArchiveKind CheckSelfExtractingFile(TStream& stream);

}  // namespace velmora
