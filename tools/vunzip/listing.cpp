#include "tools/vunzip/listing.h"

#include <cinttypes>

#include "archive/zip/zip_archive.h"
#include "archive/zip/zip_item.h"

namespace velmora::vunzip {

std::string DosDateTimeText(uint16_t date, uint16_t time) {
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u", 1980u + (date >> 9),
                (date >> 5) & 15u, date & 31u, (time >> 11) & 31u, (time >> 5) & 63u);
  return text;
}

std::string MethodName(const TAbZipItem& item) {
  switch (item.Method()) {
    case 0: return "Stored";
    case 1: return "Shrunk";
    case 2: case 3: case 4: case 5: return "Reduce" + std::to_string(item.Method() - 1);
    case 6: return "Implode";
    case 8: {
      // Bits 1 and 2 say how hard the compressor tried (APPNOTE 4.4.4).
      static const char kLevel[] = {'N', 'X', 'F', 'S'};
      return std::string("Defl:") + kLevel[(item.FlagBits() >> 1) & 3];
    }
    case 9: return "Def64";
    case 12: return "BZip2";
    case 14: return "LZMA";
    case 93: return "Zstd";
    case 95: return "XZ";
    case 99: return "AES";
    default: {
      char text[16];
      std::snprintf(text, sizeof text, "Unk:%03u", item.Method());
      return text;
    }
  }
}

namespace {

uint64_t Unsigned(int64_t size) { return size < 0 ? 0 : static_cast<uint64_t>(size); }

std::string FilesText(size_t count) {
  return std::to_string(count) + (count == 1 ? " file" : " files");
}

// Compression ratio as unzip shows it: the part saved, in whole percent.
int SavedPercent(uint64_t packed, uint64_t unpacked) {
  if (unpacked == 0) return 0;
  const double saved = 100.0 * (1.0 - static_cast<double>(packed) / static_cast<double>(unpacked));
  return static_cast<int>(saved + (saved < 0 ? -0.5 : 0.5));
}

}  // namespace

void PrintList(std::FILE* out, const std::string& archive_name,
               const std::vector<TAbZipItem*>& items) {
  std::fprintf(out, "Archive:  %s\n", archive_name.c_str());
  std::fprintf(out, "  Length      Date    Time    Name\n");
  std::fprintf(out, "---------  ---------- -----   ----\n");
  uint64_t total = 0;
  for (const TAbZipItem* item : items) {
    const uint64_t size = Unsigned(item->GetUnpackedSize());
    total += size;
    std::fprintf(out, "%9" PRIu64 "  %s   %s\n", size,
                 DosDateTimeText(item->GetDosDate(), item->GetDosTime()).c_str(),
                 item->GetStoredName().c_str());
  }
  std::fprintf(out, "---------                     -------\n");
  std::fprintf(out, "%9" PRIu64 "                     %s\n", total, FilesText(items.size()).c_str());
}

void PrintVerboseList(std::FILE* out, const std::string& archive_name,
                      const std::vector<TAbZipItem*>& items) {
  std::fprintf(out, "Archive:  %s\n", archive_name.c_str());
  std::fprintf(out, " Length   Method    Size  Cmpr    Date    Time   CRC-32   Name\n");
  std::fprintf(out, "--------  ------  ------- ---- ---------- ----- --------  ----\n");
  uint64_t total = 0, total_packed = 0;
  for (const TAbZipItem* item : items) {
    const uint64_t size = Unsigned(item->GetUnpackedSize());
    const uint64_t packed = Unsigned(item->GetPackedSize());
    total += size;
    total_packed += packed;
    std::fprintf(out, "%8" PRIu64 "  %-6s %8" PRIu64 " %3d%% %s %08x  %s%s\n", size,
                 MethodName(*item).c_str(), packed, SavedPercent(packed, size),
                 DosDateTimeText(item->GetDosDate(), item->GetDosTime()).c_str(),
                 item->GetCrc32(), item->GetEncrypted() ? "*" : "",
                 item->GetStoredName().c_str());
  }
  std::fprintf(out, "--------          -------  ---                            -------\n");
  std::fprintf(out, "%8" PRIu64 "         %8" PRIu64 " %3d%%                            %s\n",
               total, total_packed, SavedPercent(total_packed, total),
               FilesText(items.size()).c_str());
}

}  // namespace velmora::vunzip
