// zipinfo mode (vunzip -Z, or the program started as vzipinfo): zipinfo's
// listings -1 -2 -s -m -l with its header, totals and comment lines, in
// zipinfo's layout column for column.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/vunzip/options.h"

namespace velmora {
class TAbZipArchive;
class TAbZipItem;
}  // namespace velmora

namespace velmora::vunzip {

struct ZipInfoArchive {
  std::string name;       // as shown on the "Archive:" line
  uint64_t file_size = 0; // of the archive's file, in bytes
  int entry_count = 0;    // all items, not only the selected ones
  std::string comment;
  // The directory as the end records say (the ZIP64 one's values where
  // there is one), and where the last of those records was found: zipinfo
  // -v's end-record block.
  uint64_t directory_size = 0;
  uint64_t directory_offset = 0;
  uint64_t end_record_offset = 0;
  uint32_t disk_number = 0;  // of the part holding the end record, from 0
  uint32_t start_disk = 0;   // where the directory starts
  uint64_t entries_on_disk = 0;
  // Bytes in front of the archive that its offsets do not count.
  int64_t shift = 0;
  // A warning about the archive, shown under the header line.
  std::string warning;
};

// "-rw-r--r--" from a Unix mode, or "-rw-a--" from MS-DOS attributes, as
// zipinfo chooses by the item's host system.
std::string AttributeText(const TAbZipItem& item);
// "stor", "defN", "i8:3", "bzp2", "u099" ...
std::string ZipInfoMethod(const TAbZipItem& item);

// names_given: masks were named on the command line, which turns off the
// header and totals unless -h/-t ask for them, as zipinfo does.
// Old Info-ZIP Zip marked in the external attributes (bit 15 of the low
// word) an old Unix extra field that only the local header holds, of 8
// bytes, or 12 with the owner (bit 14). Its length for the hosts zipinfo
// believes the mark of (Unix, HPFS, NTFS), else 0.
unsigned ImpliedLocalFieldLength(const TAbZipItem& item);

// The directory's size and offset from the end record, or from the ZIP64
// end record a locator points to, and where that record is, for -v.
void LocateEndRecords(TAbZipArchive& archive, ZipInfoArchive& shown);

// zipinfo -v: the end record and every selected entry's fields; each
// entry is numbered by its place in the directory (entry_numbers, from 1,
// beside items).
void PrintZipInfoVerbose(std::FILE* out, const ZipInfoArchive& archive,
                         const std::vector<TAbZipItem*>& items,
                         const std::vector<int>& entry_numbers);

// Whether the format shows the "Archive:" header line: the ls-like
// formats and -v do, -1 and -2 only with -h.
bool ZipInfoShowsHeader(const ZipInfoOptions& options, bool names_given);

void PrintZipInfo(std::FILE* out, const ZipInfoArchive& archive,
                  const std::vector<TAbZipItem*>& items, const ZipInfoOptions& options,
                  bool names_given);

}  // namespace velmora::vunzip
