// What vunzip shows of an archive: the -l and -v listings and the per-item
// lines, in unzip's layout column for column, so that scripts that read
// unzip's output read ours. Sizes are 64-bit throughout and ratios are
// computed in integers and clamped, so no size can overflow a column's
// arithmetic.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <type_traits>
#include <vector>

#include "archive/zip/zip_item.h"
#include "tools/vunzip/name_case.h"

namespace velmora {
class TAbZipArchive;
}  // namespace velmora

namespace velmora::vunzip {

// A name as it may go to a terminal: control characters become ^X (ESC is
// ^[, DEL ^?), as unzip shows them, so a name cannot move the cursor, clear
// the screen or set a window title.
std::string SafeName(const std::string& name);

// The item's sizes as unsigned 64-bit values, whatever width the item
// model gives them.
template <typename Item>
uint64_t UnpackedSize(const Item& item) {
  using Value = decltype(item.GetUnpackedSize());
  return static_cast<uint64_t>(static_cast<std::make_unsigned_t<Value>>(item.GetUnpackedSize()));
}
template <typename Item>
uint64_t PackedSize(const Item& item) {
  using Value = decltype(item.GetPackedSize());
  return static_cast<uint64_t>(static_cast<std::make_unsigned_t<Value>>(item.GetPackedSize()));
}
// The compressed size as unzip lists it: without the 12-byte encryption
// header of an encrypted item.
uint64_t ListedPackedSize(const TAbZipItem& item);

// The item's modification time as broken-down local time: from the
// extended timestamp (extra field 0x5455) where the item has one, else
// from the DOS date and time, as unzip shows it.
std::tm ItemTime(const TAbZipItem& item);
// The item's Unix modification time (extended timestamp, or Info-ZIP's or
// PKWARE's older Unix field), when present and usable as unzip uses it.
bool ExtendedModTime(const TAbZipItem& item, int64_t& seconds);

// The item's modification time in seconds since 1970: its Unix time, else
// its DOS time read as local time.
int64_t ItemSeconds(const TAbZipItem& item);

// unzip's ratio: the part saved, in tenths of a percent, rounded half
// away from zero; negative when the data grew. Clamped to -999999, whatever
// the sizes.
int64_t SavedPermille(uint64_t unpacked, uint64_t packed);
// " 54", "-13", "100", "-0": the permille in whole percent, as unzip -v
// prints it (the sign kept when the rounded value is 0).
std::string PercentText(int64_t permille);

// "Defl:N", "Stored", "Def64", "BZip2", "Unk:099" ...; the one table of
// method names in vunzip.
std::string MethodName(const TAbZipItem& item);
// unzip's word on the line of an item it extracts, right-aligned as it
// prints it: " extracting", "  inflating", "  exploding", "unshrinking"...
const char* ExtractionVerb(const TAbZipItem& item);

// "Archive:  NAME" and the archive comment under it.
void PrintArchiveHeader(std::FILE* out, const std::string& archive_name,
                        const std::string& comment);
// The archive comment as unzip and zipinfo show it: its own line breaks,
// CRs dropped, other control characters as ^X, ending in a line break.
void PrintComment(std::FILE* out, const std::string& comment);

// quiet: 0 everything, 1 no "Archive:" line or comment, 2 the item lines
// only.
// names: -L / -LL, whose lowered names are marked "^", as unzip marks them.
void PrintList(std::FILE* out, const std::vector<TAbZipItem*>& items, int quiet,
               const NameCase& names);
void PrintVerboseList(std::FILE* out, const std::vector<TAbZipItem*>& items, int quiet,
                      const NameCase& names);

}  // namespace velmora::vunzip
