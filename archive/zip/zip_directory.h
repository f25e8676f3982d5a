// Finding a ZIP directory in a stream: the search for the end of central
// directory record, and the checks that tell a plain ZIP, a spanned set and
// a ZIP appended to a program apart.
#pragma once

#include <cstdint>
#include <optional>

#include "archive/zip/zip_records.h"
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

// The ZIP64 end record that belongs to the end record at end_position: a
// locator right in front of the end record says where it is. Position is
// where it was found; when it is not where the locator says but right in
// front of the locator (the archive was put behind other bytes and its
// offsets were not adjusted), Shift is the difference. nullopt without a
// locator; EAbZipBadDirectory for a locator that points at no record.
struct TAbZip64Tail {
  TAbZip64EndRecord Record;
  int64_t Position = 0;
  int64_t Shift = 0;
};
std::optional<TAbZip64Tail> FindZip64End(TStream& stream, int64_t end_position);

// Where the directory really starts against where the end record says:
// directory_end is the position of the record that follows the directory
// (the ZIP64 end record or the end record). Shift is the number of bytes
// that stand in front of the archive without being counted in its offsets
// (0 when the directory is where it is said to be, or when no shifted
// directory is found); a shift is taken only when a central header starts
// where the shifted directory would, and its item's local header is found
// at its shifted offset. DirectoryStart is where to read the directory:
// the said offset plus the shift, or, when only the directory's offset is
// wrong (its first item's local header is where it says), the real start.
// Raises EAbZipBadDirectory for a directory that cannot be: more entries
// than its room holds (its size, or the bytes from its offset to the
// record behind it), overlapping the end record, or said to start inside
// or behind it.
struct TAbDirectoryShift {
  int64_t Shift = 0;
  int64_t DirectoryStart = 0;
};
TAbDirectoryShift FindArchiveShift(TStream& stream, uint64_t entries, uint64_t directory_size,
                                   uint64_t directory_offset, int64_t directory_end);

// akSpannedZip when the stream starts with a spanned-set marker, akZip when
// an end record is found, else akUnknown. The position is restored.
TAbArchiveKind CheckZipFile(TStream& stream);

// akSelfExtractingZip when the stream starts like a program ("MZ", or an
// ELF header) and CheckZipFile finds a plain ZIP in it; else akUnknown. The
// position is restored.
TAbArchiveKind CheckSelfExtractingFile(TStream& stream);

}  // namespace velmora
