#include "tools/vunzip/listing.h"

#include <cinttypes>
#include <limits>

#include "archive/zip/zip_archive.h"
#include "archive/zip/zip_item.h"

namespace velmora::vunzip {

namespace {

// Traditional encryption puts a 12-byte header in front of the data.
constexpr uint64_t kEncryptionHeaderSize = 12;

std::string FilesText(size_t count) {
  return std::to_string(count) + (count == 1 ? " file" : " files");
}

std::string DateTimeText(const std::tm& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", t.tm_year + 1900, t.tm_mon + 1,
                t.tm_mday, t.tm_hour, t.tm_min);
  return text;
}

}  // namespace

std::string SafeName(const std::string& name) {
  std::string shown;
  shown.reserve(name.size());
  for (const char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20) {
      shown += '^';
      shown += static_cast<char>(u + 0x40);
    } else if (u == 0x7F) {
      shown += "^?";
    } else {
      shown += c;
    }
  }
  return shown;
}

uint64_t ListedPackedSize(const TAbZipItem& item) {
  const uint64_t packed = PackedSize(item);
  if (item.GetEncrypted() && packed >= kEncryptionHeaderSize) return packed - kEncryptionHeaderSize;
  return packed;
}

bool ExtendedModTime(const TAbZipItem& item, int64_t& seconds) {
  const std::optional<int64_t> time = item.UnixModificationTime();
  if (!time) return false;
  seconds = *time;
  return true;
}

std::tm ItemTime(const TAbZipItem& item) {
  std::tm t{};
  int64_t seconds = 0;
  if (ExtendedModTime(item, seconds)) {
    const std::time_t when = static_cast<std::time_t>(seconds);
    if (localtime_r(&when, &t) != nullptr) return t;
    t = std::tm{};
  }
  const uint16_t date = item.GetDosDate(), time = item.GetDosTime();
  t.tm_year = 80 + (date >> 9);
  t.tm_mon = ((date >> 5) & 15) - 1;
  t.tm_mday = date & 31;
  t.tm_hour = (time >> 11) & 31;
  t.tm_min = (time >> 5) & 63;
  t.tm_sec = (time & 31) * 2;
  return t;
}

int64_t ItemSeconds(const TAbZipItem& item) {
  int64_t seconds = 0;
  if (ExtendedModTime(item, seconds)) return seconds;
  std::tm t = ItemTime(item);
  t.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&t));
}

int64_t SavedPermille(uint64_t unpacked, uint64_t packed) {
  if (unpacked == 0) return 0;
  const bool grew = packed > unpacked;
  const uint64_t difference = grew ? packed - unpacked : unpacked - packed;
  uint64_t permille;
  // Above two million the product could overflow; unzip divides first.
  if (unpacked > 2000000) {
    const uint64_t denominator = unpacked / 1000;
    permille = difference / denominator + ((difference % denominator) + denominator / 2) / denominator;
  } else if (difference > (std::numeric_limits<uint64_t>::max() - unpacked) / 1000) {
    permille = std::numeric_limits<uint64_t>::max();  // clamped below
  } else {
    permille = (1000 * difference + unpacked / 2) / unpacked;
  }
  // Bounded, so that the text fits a small buffer and no sum overflows:
  // data that grew more than a thousandfold shows -99999.9%.
  constexpr uint64_t kLimit = 999999;
  if (permille > kLimit) permille = kLimit;
  return grew ? -static_cast<int64_t>(permille) : static_cast<int64_t>(permille);
}

std::string PercentText(int64_t permille) {
  const bool negative = permille < 0;
  const int64_t magnitude = negative ? -permille : permille;
  const std::string text = (negative ? "-" : "") + std::to_string((magnitude + 5) / 10);
  char padded[32];
  std::snprintf(padded, sizeof padded, "%3s", text.c_str());
  return padded;
}

const char* ExtractionVerb(const TAbZipItem& item) {
  switch (item.Method()) {
    case 0: return " extracting";
    case 1: return "unshrinking";
    case 2: case 3: case 4: case 5: return " unreducing";
    case 6: return "  exploding";
    case 12: return " bunzipping";
    default: return "  inflating";  // also the methods unzip does not read
  }
}

std::string MethodName(const TAbZipItem& item) {
  static const char kLevel[] = {'N', 'X', 'F', 'S'};
  switch (item.Method()) {
    case 0: return "Stored";
    case 1: return "Shrunk";
    case 2: case 3: case 4: case 5: return "Reduce" + std::to_string(item.Method() - 1);
    case 6: return "Implode";
    case 7: return "Token";
    // Bits 1 and 2 say how hard the compressor tried (APPNOTE 4.4.4).
    case 8: return std::string("Defl:") + kLevel[(item.FlagBits() >> 1) & 3];
    case 9: return std::string("Def64") + kLevel[(item.FlagBits() >> 1) & 3];
    case 12: return "BZip2";
    case 14: return "LZMA";
    case 98: return "PPMd";
    // Other later methods (Zstandard 93, XZ 95, AES 99 ...) by number, as
    // unzip 6.0 lists them.
    default: {
      char text[16];
      std::snprintf(text, sizeof text, "Unk:%03u", item.Method());
      return text;
    }
  }
}

void PrintArchiveHeader(std::FILE* out, const std::string& archive_name,
                        const std::string& comment) {
  std::fprintf(out, "Archive:  %s\n", SafeName(archive_name).c_str());
  PrintComment(out, comment);
}

void PrintComment(std::FILE* out, const std::string& comment) {
  if (comment.empty()) return;
  // Line breaks in a comment are its own; other control characters are not.
  std::string shown;
  for (const char c : comment) {
    if (c == '\n') {
      shown += '\n';
    } else if (c != '\r') {
      shown += SafeName(std::string(1, c));
    }
  }
  std::fprintf(out, "%s%s", shown.c_str(), shown.back() == '\n' ? "" : "\n");
}

// An item's own comment, on the line under it, as unzip lists it.
static void PrintItemComment(std::FILE* out, const TAbZipItem& item) {
  const std::string& comment = item.DirectoryHeader().FileComment;
  if (!comment.empty()) std::fprintf(out, "%s\n", SafeName(comment).c_str());
}

// The name column's heading, with unzip's key to "^" under -L.
static const char* NameHeading(const NameCase& names) {
  return names.Active() ? "Name (\"^\" ==> case" : "Name";
}
static const char* NameRule(const NameCase& names) {
  return names.Active() ? "----   conversion)" : "----";
}

// The blank before a name, or "^" where -L lowered it.
static std::string MarkedName(const TAbZipItem& item, const NameCase& names) {
  return (names.Lowers(item) ? "^" : " ") + SafeName(names.NameOf(item));
}

void PrintList(std::FILE* out, const std::vector<TAbZipItem*>& items, int quiet,
               const NameCase& names) {
  if (quiet < 2) {
    std::fprintf(out, "  Length      Date    Time    %s\n", NameHeading(names));
    std::fprintf(out, "---------  ---------- -----   %s\n", NameRule(names));
  }
  uint64_t total = 0;
  for (const TAbZipItem* item : items) {
    const uint64_t size = UnpackedSize(*item);
    total += size;
    std::fprintf(out, "%9" PRIu64 "  %s  %s\n", size, DateTimeText(ItemTime(*item)).c_str(),
                 MarkedName(*item, names).c_str());
    if (quiet == 0) PrintItemComment(out, *item);
  }
  if (quiet >= 2) return;
  std::fprintf(out, "---------                     -------\n");
  std::fprintf(out, "%9" PRIu64 "                     %s\n", total, FilesText(items.size()).c_str());
}

void PrintVerboseList(std::FILE* out, const std::vector<TAbZipItem*>& items, int quiet,
                      const NameCase& names) {
  if (quiet < 2) {
    std::fprintf(out, " Length   Method    Size  Cmpr    Date    Time   CRC-32   %s\n",
                 NameHeading(names));
    std::fprintf(out, "--------  ------  ------- ---- ---------- ----- --------  %s\n",
                 NameRule(names));
  }
  uint64_t total = 0, total_packed = 0;
  for (const TAbZipItem* item : items) {
    const uint64_t size = UnpackedSize(*item);
    const uint64_t packed = ListedPackedSize(*item);
    total += size;
    total_packed += packed;
    std::fprintf(out, "%8" PRIu64 "  %-7s%8" PRIu64 " %s%% %s %08x %s\n", size,
                 MethodName(*item).c_str(), packed, PercentText(SavedPermille(size, packed)).c_str(),
                 DateTimeText(ItemTime(*item)).c_str(), item->GetCrc32(),
                 MarkedName(*item, names).c_str());
    if (quiet == 0) PrintItemComment(out, *item);
  }
  if (quiet >= 2) return;
  std::fprintf(out, "--------          -------  ---                            -------\n");
  std::fprintf(out, "%8" PRIu64 "         %8" PRIu64 " %s%%                            %s\n", total,
               total_packed, PercentText(SavedPermille(total, total_packed)).c_str(),
               FilesText(items.size()).c_str());
}

}  // namespace velmora::vunzip
