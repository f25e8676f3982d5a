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
class TAbZipItem;
}  // namespace velmora

namespace velmora::vunzip {

struct ZipInfoArchive {
  std::string name;       // as shown on the "Archive:" line
  uint64_t file_size = 0; // of the archive's file, in bytes
  int entry_count = 0;    // all items, not only the selected ones
  std::string comment;
};

// "-rw-r--r--" from a Unix mode, or "-rw-a--" from MS-DOS attributes, as
// zipinfo chooses by the item's host system.
std::string AttributeText(const TAbZipItem& item);
// "stor", "defN", "i8:3", "bzp2", "u099" ...
std::string ZipInfoMethod(const TAbZipItem& item);

// names_given: masks were named on the command line, which turns off the
// header and totals unless -h/-t ask for them, as zipinfo does.
// zipinfo -v: the end record (its directory's size and offset given) and
// every selected entry's fields.
void PrintZipInfoVerbose(std::FILE* out, const ZipInfoArchive& archive,
                         const std::vector<TAbZipItem*>& items, uint32_t directory_size,
                         uint32_t directory_offset);

void PrintZipInfo(std::FILE* out, const ZipInfoArchive& archive,
                  const std::vector<TAbZipItem*>& items, const ZipInfoOptions& options,
                  bool names_given);

}  // namespace velmora::vunzip
