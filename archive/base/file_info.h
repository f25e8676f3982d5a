// File dates, attributes and sizes, and the drive test, on Windows paths.
// None of them raise: they report failure by their result.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

// Sets the last-write time of FileName from a DOS date (high 16 bits) and
// time (low 16 bits) read as local time; creation and last-access times are
// left alone. Returns 0 or the OS error code of the step that failed.
uint32_t SetFileDosDateTime(const std::string& FileName, uint32_t DosDateTime);

// Sets the last-write time of FileName to Seconds since 1970-01-01 UTC (an
// Info-ZIP extended timestamp). Returns 0 or the OS error code.
uint32_t SetFileUnixTime(const std::string& FileName, int64_t Seconds);

// Sets the Windows attributes of FileName to Attributes as given (no
// masking). Returns 0 or the OS error code.
uint32_t SetFileAttributesOf(const std::string& FileName, uint32_t Attributes);

// The size of the first directory entry matching FileName (which may be a
// mask), whatever its attributes; -1 when nothing matches.
int64_t FileSizeOf(const std::string& FileName);

// Whether the drive of Path (its text up to the first ":" once expanded to
// a full path) is removable. A UNC path is not.
bool IsRemovableDrive(const std::string& Path);

}  // namespace velmora
