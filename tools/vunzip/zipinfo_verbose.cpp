// zipinfo -v: the archive's end record and every central entry, field by
// field, in zipinfo's words and columns.
#include <sys/stat.h>

#include <cinttypes>
#include <cstring>
#include <fstream>

#include "archive/zip/zip_item.h"
#include "tools/vunzip/damage.h"
#include "tools/vunzip/listing.h"
#include "tools/vunzip/zipinfo.h"

namespace velmora::vunzip {

namespace {

constexpr const char* kSystems[] = {
    "MS-DOS, OS/2 or NT FAT", "Amiga", "VAX VMS", "Unix", "VM/CMS", "Atari ST",
    "OS/2 or NT HPFS", "Macintosh HFS", "Z-System", "CP/M", "TOPS-20", "NTFS", "SMS/QDOS",
    "Acorn RISC OS", "Win32 VFAT", "MVS", "BeOS", "Tandem NSK", "Theos", "Mac OS/X (Darwin)"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
// The end record's signature and its fixed size (APPNOTE 4.3.16).
constexpr char kEndSignature[] = {'P', 'K', 5, 6};
constexpr uint64_t kEndRecordSize = 22;
constexpr uint16_t kExtendedTimestampId = 0x5455;
constexpr uint16_t kUnixOwnerId = 0x7875;
constexpr uint16_t kNtfsId = 0x000a;
constexpr uint16_t kOldUnixId = 0x5855;
constexpr uint16_t kPkwareUnixId = 0x000d;
constexpr size_t kShownBytes = 20;
// The fixed part of a local header (APPNOTE 4.3.7).
constexpr uint64_t kLocalHeaderSize = 30;
constexpr uint32_t kHostUnix = 3;

std::string System(uint32_t host) {
  return host < std::size(kSystems) ? kSystems[host] : "unknown (" + std::to_string(host) + ")";
}

std::string MethodText(const TAbZipItem& item) {
  switch (item.Method()) {
    case 0: return "none (stored)";
    case 1: return "shrunk";
    case 2: case 3: case 4: case 5: return "reduced (factor " + std::to_string(item.Method() - 1) + ")";
    case 6: return "imploded";
    case 7: return "tokenized";
    case 8: return "deflated";
    case 9: return "deflated (enhanced-64k)";
    case 12: return "bzipped";
    case 14: return "LZMA-ed";
    default: return "unknown (" + std::to_string(item.Method()) + ")";
  }
}

// "  LABEL" then a number right-aligned to column 50, then its hex form.
void PrintSized(std::FILE* out, const char* label, uint64_t value) {
  const int width = 50 - static_cast<int>(std::strlen(label));
  std::fprintf(out, "%s%*" PRIu64 " (%016" PRIX64 "h)\n", label, width, value, value);
}

std::string TimeText(const std::tm& t) {
  const int month = t.tm_mon >= 0 && t.tm_mon < 12 ? t.tm_mon : 0;
  char text[64];
  std::snprintf(text, sizeof text, "%d %s %d %02d:%02d:%02d", t.tm_year + 1900, kMonths[month],
                t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

std::string DosAttributesText(uint32_t attributes) {
  static const struct { uint32_t bit; const char* name; } kBits[] = {
      {0x01, "rdo"}, {0x02, "hid"}, {0x04, "sys"}, {0x08, "lab"}, {0x10, "dir"}, {0x20, "arc"}};
  std::string text;
  for (const auto& bit : kBits) {
    if (attributes & bit.bit) text += std::string(bit.name) + " ";
  }
  return text.empty() ? "none" : text;
}

// The end record's offset as found in the file: the last signature whose
// comment length reaches the file's end.
uint64_t FindEndRecord(const std::string& path, uint64_t file_size) {
  std::ifstream in(path, std::ios::binary);
  const uint64_t window = std::min<uint64_t>(file_size, 65535 + kEndRecordSize);
  std::string tail(window, '\0');
  in.seekg(static_cast<std::streamoff>(file_size - window));
  if (!in.read(tail.data(), static_cast<std::streamsize>(window))) return 0;
  for (size_t at = tail.rfind(std::string(kEndSignature, 4)); at != std::string::npos;
       at = at == 0 ? std::string::npos : tail.rfind(std::string(kEndSignature, 4), at - 1)) {
    if (tail.size() - at >= kEndRecordSize) return file_size - window + at;
  }
  return 0;
}

void PrintExtraFields(std::FILE* out, const std::string& extra) {
  if (extra.empty()) return;
  std::fprintf(out, "\n  The central-directory extra field contains:");
  size_t at = 0;
  while (extra.size() - at >= 4) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(extra[at + i]); };
    const uint16_t id = static_cast<uint16_t>(byte(0) | (byte(1) << 8));
    const size_t length = std::min<size_t>(byte(2) | (byte(3) << 8), extra.size() - at - 4);
    at += 4;
    if (id == kExtendedTimestampId && length >= 1) {
      std::fprintf(out, "\n  - A subfield with ID 0x%04x (universal time) and %zu data bytes.", id,
                   length);
      const uint8_t flags = byte(0);
      std::string kinds;
      for (const auto& [bit, name] : {std::pair{1, "modification"}, std::pair{2, "access"},
                                      std::pair{4, "creation"}}) {
        if (flags & bit) kinds += (kinds.empty() ? "" : "/") + std::string(name);
      }
      const bool several = kinds.find('/') != std::string::npos;
      std::fprintf(out, "\n    The local extra field has UTC/GMT %s time%s.", kinds.c_str(),
                   several ? "s" : "");
    } else {
      const char* what = id == kUnixOwnerId ? "Unix UID/GID (any size)"
                         : id == kNtfsId    ? "PKWARE Win32"
                         : id == kOldUnixId ? "old Info-ZIP Unix/OS2/NT"
                         : id == kPkwareUnixId ? "PKWARE Unix"
                                            : "unknown";
      std::fprintf(out, "\n  - A subfield with ID 0x%04x (%s) and %zu data bytes", id, what, length);
      // Up to twenty bytes are shown, as zipinfo does.
      if (length > kShownBytes) {
        std::fprintf(out, ".  The first\n    %zu are:  ", kShownBytes);
      } else if (length > 0) {
        std::fprintf(out, ":\n   ");
      }
      for (size_t i = 0; i < std::min(length, kShownBytes); ++i) std::fprintf(out, " %02x", byte(i));
      std::fputc('.', out);
    }
    at += length;
  }
  std::fputc('\n', out);
}

// expected_offset: where this entry's local header would start if it
// followed the previous entry's data directly (a data descriptor between
// them counts as extra bytes, as zipinfo counts it).
void PrintEntry(std::FILE* out, const TAbZipItem& item, int number, int64_t expected_offset) {
  const auto& header = item.DirectoryHeader();
  const uint32_t made_by = header.VersionMadeBy, needed = header.VersionNeededToExtract;
  std::fprintf(out, "Central directory entry #%d:\n---------------------------\n\n", number);
  const int64_t extra_before = static_cast<int64_t>(item.LocalHeaderOffset()) - expected_offset;
  if (extra_before != 0) {
    std::fprintf(out, "  There are an extra %" PRId64 " bytes preceding this file.\n\n", extra_before);
  }
  std::fprintf(out, "  %s\n\n", SafeName(item.GetStoredName()).c_str());
  std::fprintf(out, "  offset of local header from start of archive:   %" PRIu64 "\n", item.LocalHeaderOffset());
  std::fprintf(out, "                                                  (%016" PRIX64 "h) bytes\n",
               item.LocalHeaderOffset());
  std::fprintf(out, "  file system or operating system of origin:      %s\n", System(made_by >> 8).c_str());
  std::fprintf(out, "  version of encoding software:                   %u.%u\n", (made_by & 0xFF) / 10,
               (made_by & 0xFF) % 10);
  std::fprintf(out, "  minimum file system compatibility required:     %s\n", System(needed >> 8).c_str());
  std::fprintf(out, "  minimum software version required to extract:   %u.%u\n", (needed & 0xFF) / 10,
               (needed & 0xFF) % 10);
  std::fprintf(out, "  compression method:                             %s\n", MethodText(item).c_str());
  if (item.Method() == 8 || item.Method() == 9) {
    static const char* const kKinds[] = {"normal", "maximum", "fast", "superfast"};
    std::fprintf(out, "  compression sub-type (deflation):               %s\n",
                 kKinds[(item.FlagBits() >> 1) & 3]);
  } else if (item.Method() == 6) {
    std::fprintf(out, "  size of sliding dictionary (implosion):         %s\n",
                 (item.FlagBits() & 2) ? "8K" : "4K");
    std::fprintf(out, "  number of Shannon-Fano trees (implosion):       %s\n",
                 (item.FlagBits() & 4) ? "3" : "2");
  }
  std::fprintf(out, "  file security status:                           %sencrypted\n",
               item.GetEncrypted() ? "" : "not ");
  std::fprintf(out, "  extended local header:                          %s\n",
               (item.FlagBits() & 8) ? "yes" : "no");
  std::tm dos{};
  const uint16_t date = item.GetDosDate(), time = item.GetDosTime();
  dos.tm_year = 80 + (date >> 9);
  dos.tm_mon = ((date >> 5) & 15) - 1;
  dos.tm_mday = date & 31;
  dos.tm_hour = (time >> 11) & 31;
  dos.tm_min = (time >> 5) & 63;
  dos.tm_sec = (time & 31) * 2;
  std::fprintf(out, "  file last modified on (DOS date/time):          %s\n", TimeText(dos).c_str());
  int64_t seconds = 0;
  if (ExtendedModTime(item, seconds)) {
    const std::time_t when = static_cast<std::time_t>(seconds);
    std::tm local{}, utc{};
    if (localtime_r(&when, &local) && gmtime_r(&when, &utc)) {
      std::fprintf(out, "  file last modified on (UT extra field modtime): %s local\n", TimeText(local).c_str());
      std::fprintf(out, "  file last modified on (UT extra field modtime): %s UTC\n", TimeText(utc).c_str());
    }
  }
  std::fprintf(out, "  32-bit CRC value (hex):                         %08x\n", item.GetCrc32());
  std::fprintf(out, "  compressed size:                                %" PRIu64 " bytes\n", PackedSize(item));
  std::fprintf(out, "  uncompressed size:                              %" PRIu64 " bytes\n", UnpackedSize(item));
  std::fprintf(out, "  length of filename:                             %zu characters\n", header.FileName.size());
  std::fprintf(out, "  length of extra field:                          %zu bytes\n", header.ExtraField.size());
  std::fprintf(out, "  length of file comment:                         %zu characters\n",
               header.FileComment.size());
  std::fprintf(out, "  disk number on which file begins:               disk %u\n", item.StartDisk() + 1u);
  std::fprintf(out, "  apparent file type:                             %s\n",
               (header.InternalFileAttributes & 1) ? "text" : "binary");
  const uint32_t external = header.ExternalFileAttributes;
  if ((made_by >> 8) == kHostUnix) {
    std::fprintf(out, "  Unix file attributes (%06o octal):            %s\n", external >> 16,
                 AttributeText(item).c_str());
  } else {
    std::fprintf(out, "  non-MSDOS external file attributes:             %06X hex\n", external >> 8);
  }
  std::fprintf(out, "  MS-DOS file attributes (%02X hex):                %s\n", external & 0xFF,
               DosAttributesText(external & 0xFF).c_str());
  PrintExtraFields(out, header.ExtraField);
  if (header.FileComment.empty()) {
    std::fprintf(out, "\n  There is no file comment.\n");
  } else {
    std::fprintf(out, "\n------------------------- file comment begins ----------------------------\n%s\n"
                 "-------------------------- file comment ends -----------------------------\n",
                 SafeName(header.FileComment).c_str());
  }
}

}  // namespace

void PrintZipInfoVerbose(std::FILE* out, const ZipInfoArchive& archive,
                         const std::vector<TAbZipItem*>& items, uint32_t directory_size,
                         uint32_t directory_offset) {
  std::fprintf(out, "Archive:  %s\n", SafeName(archive.name).c_str());
  if (archive.comment.empty()) {
    std::fprintf(out, "There is no zipfile comment.\n");
  } else {
    std::fprintf(out, "The zipfile comment is %zu bytes long and contains the following text:\n",
                 archive.comment.size());
    std::fprintf(out, "======================== zipfile comment begins ==========================\n");
    std::string shown;
    for (const char c : archive.comment) shown += c == '\n' ? std::string("\n") : SafeName(std::string(1, c));
    std::fprintf(out, "%s\n", shown.c_str());
    std::fprintf(out, "========================= zipfile comment ends ===========================\n");
  }
  std::fprintf(out, "\nEnd-of-central-directory record:\n-------------------------------\n\n");
  PrintSized(out, "  Zip archive file size:", archive.file_size);
  PrintSized(out, "  Actual end-cent-dir record offset:", FindEndRecord(archive.name, archive.file_size));
  PrintSized(out, "  Expected end-cent-dir record offset:",
             static_cast<uint64_t>(directory_offset) + directory_size);
  std::fprintf(out, "  (based on the length of the central directory and its expected offset)\n\n");
  std::fprintf(out, "  This zipfile constitutes the sole disk of a single-part archive; its\n");
  std::fprintf(out, "  central directory contains %d %s.\n", archive.entry_count,
               archive.entry_count == 1 ? "entry" : "entries");
  std::fprintf(out, "  The central directory is %" PRIu32 " (%016" PRIX32 "h) bytes long,\n", directory_size,
               directory_size);
  std::fprintf(out, "  and its (expected) offset in bytes from the beginning of the zipfile\n");
  std::fprintf(out, "  is %" PRIu32 " (%016" PRIX32 "h).\n\n", directory_offset, directory_offset);
  std::ifstream raw(archive.name, std::ios::binary);
  int number = 0;
  int64_t expected_offset = 0;
  for (const TAbZipItem* item : items) {
    std::fprintf(out, "\n");
    PrintEntry(out, *item, ++number, expected_offset);
    const auto& header = item->DirectoryHeader();
    const uint64_t local = LocalHeaderLength(raw, *item).value_or(
        kLocalHeaderSize + header.FileName.size() + header.ExtraField.size());
    expected_offset = static_cast<int64_t>(item->LocalHeaderOffset() + local + PackedSize(*item));
  }
  std::fprintf(out, "\n");
}

}  // namespace velmora::vunzip
