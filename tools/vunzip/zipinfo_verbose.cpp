// zipinfo -v: the archive's end record and every central entry, field by
// field, in zipinfo's words and columns.
#include <sys/stat.h>

#include <bit>
#include <cinttypes>
#include <cstring>

#include "archive/zip/zip_archive.h"
#include "archive/zip/zip_directory.h"
#include "archive/zip/zip_item.h"
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
constexpr uint16_t kExtendedTimestampId = 0x5455;
constexpr uint16_t kUnicodePathId = 0x7075;
constexpr uint16_t kUnicodeCommentId = 0x6375;
constexpr uint16_t kUnixOwner16Id = 0x7855;
constexpr uint16_t kOldUnixId = 0x5855;
// Fields whose first four bytes zipinfo reads as the size of data kept in
// the local header: OS/2 extended attributes, an NT security descriptor,
// an OS/2 access control list.
constexpr uint16_t kOs2AttributesId = 0x0009;
constexpr uint16_t kNtSecurityId = 0x4453;
constexpr uint16_t kOs2AclId = 0x4c41;
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
    case 98: return "PPMd-ed";
    default: return "unknown (" + std::to_string(item.Method()) + ")";
  }
}

// "  LABEL" then a number right-aligned to column 50, then its hex form.
void PrintSized(std::FILE* out, const char* label, uint64_t value) {
  const int width = 50 - static_cast<int>(std::strlen(label));
  std::fprintf(out, "%s%*" PRIu64 " (%016" PRIX64 "h)\n", label, width, value, value);
}

// A month outside 1..12 (a DOS date of 0 has month 0) is shown as its
// number in three digits, as zipinfo shows it.
std::string TimeText(const std::tm& t) {
  char month[16];
  if (t.tm_mon >= 0 && t.tm_mon < 12) {
    std::snprintf(month, sizeof month, "%s", kMonths[t.tm_mon]);
  } else {
    std::snprintf(month, sizeof month, "%03d", (t.tm_mon + 1) & 0xFF);
  }
  char text[64];
  std::snprintf(text, sizeof text, "%d %s %d %02d:%02d:%02d", t.tm_year + 1900, month,
                t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

// "none", "read-only" for the read-only bit alone, else each bit's name
// followed by a blank ("exe", always last, without one), as zipinfo words
// them.
std::string DosAttributesText(uint32_t attributes) {
  static const struct { uint32_t bit; const char* name; } kBits[] = {
      {0x01, "rdo "}, {0x02, "hid "}, {0x04, "sys "}, {0x08, "lab "},
      {0x10, "dir "}, {0x20, "arc "}, {0x40, "lnk "}, {0x80, "exe"}};
  if (attributes == 0) return "none";
  if (attributes == 0x01) return "read-only";
  std::string text;
  for (const auto& bit : kBits) {
    if (attributes & bit.bit) text += bit.name;
  }
  return text;
}

// zipinfo's names for the extra-field IDs it knows (APPNOTE 4.5.2 and
// Info-ZIP's registry); any other ID is "unknown".
const char* ExtraFieldName(uint16_t id) {
  static const struct { uint16_t id; const char* name; } kNames[] = {
      {0x0001, "PKWARE 64-bit sizes"}, {0x0007, "PKWARE AV"}, {0x0009, "OS/2"},
      {0x000a, "PKWARE Win32"}, {0x000c, "PKWARE VMS"}, {0x000d, "PKWARE Unix"},
      {0x07c8, "old Info-ZIP Macintosh"}, {0x2605, "ZipIt Macintosh"},
      {0x2705, "ZipIt Macintosh (short)"}, {0x334d, "new Info-ZIP Macintosh"},
      {0x4154, "Tandem NSK"}, {0x4341, "Acorn SparkFS"}, {0x4453, "Security Descriptor"},
      {0x4704, "VM/CMS"}, {0x470f, "MVS"}, {0x4b46, "Fred Kantor MD5"}, {0x4c41, "OS/2 ACL"},
      {0x4d49, "Info-ZIP VMS"}, {0x4d63, "SmartZip Macintosh"}, {0x5356, "AOS/VS"},
      {0x5455, "universal time"}, {0x5855, "old Info-ZIP Unix/OS2/NT"},
      {0x6375, "UTF8 entry comment"}, {0x6542, "BeOS"}, {0x6854, "Theos"}, {0x7075, "UTF8 path name"},
      {0x7441, "AtheOS"}, {0x756e, "ASi Unix"}, {0x7855, "Unix UID/GID (16-bit)"},
      {0x7875, "Unix UID/GID (any size)"}, {0xfb4a, "SMS/QDOS"}};
  for (const auto& known : kNames) {
    if (known.id == id) return known.name;
  }
  return "unknown";
}

// One subfield of the central header's extra field, its data being the
// length bytes at data. Returns how many more bytes the local header's
// copy of it holds, as zipinfo reckons them: a central extended timestamp
// is taken to keep only the modification time of the times its flags
// announce, and a central 16-bit owner field is empty where the local one
// holds the uid and gid.
uint64_t PrintExtraField(std::FILE* out, uint16_t id, const uint8_t* data, size_t length) {
  std::fprintf(out, "\n  - A subfield with ID 0x%04x (%s) and %zu data bytes", id, ExtraFieldName(id),
               length);
  const auto le32 = [data] {
    return static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
           static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
  };
  if (id == kExtendedTimestampId && length >= 1) {
    std::string kinds;
    for (const auto& [bit, name] : {std::pair{1, "modification"}, std::pair{2, "access"},
                                    std::pair{4, "creation"}}) {
      if (data[0] & bit) kinds += (kinds.empty() ? "" : "/") + std::string(name);
    }
    const bool several = kinds.find('/') != std::string::npos;
    std::fprintf(out, ".\n    The local extra field has UTC/GMT %s time%s.", kinds.c_str(),
                 several ? "s" : "");
    // Four bytes for each of the access and creation times, whatever the
    // central copy holds.
    return 4 * static_cast<uint64_t>(std::popcount(data[0] & 6u));
  }
  if ((id == kOs2AttributesId || id == kNtSecurityId || id == kOs2AclId) && length >= 4) {
    // The size of what the local header holds, not the data itself.
    const char* what = id == kOs2AttributesId ? "OS/2 extended attributes"
                       : id == kNtSecurityId  ? "NT security descriptor data"
                                              : "access control list information";
    std::fprintf(out, ".\n    The local extra field has %" PRIu32 " bytes of %s.", le32(), what);
    if (id == kOs2AttributesId) {
      std::fprintf(out, "\n    (May not match OS/2 \"dir\" amount due to storage method).");
    }
    return 0;
  }
  if ((id == kUnicodePathId || id == kUnicodeCommentId) && length >= 5) {
    // A version byte and the CRC-32 of the stored text, then the UTF-8
    // text, of which zipinfo shows up to 24 bytes.
    constexpr size_t kShownUtf8Bytes = 24;
    const size_t text = length - 5;
    const uint32_t crc = static_cast<uint32_t>(data[1]) | static_cast<uint32_t>(data[2]) << 8 |
                         static_cast<uint32_t>(data[3]) << 16 | static_cast<uint32_t>(data[4]) << 24;
    if (text > kShownUtf8Bytes) {
      std::fprintf(out, ". The first\n    %zu UTF8 bytes in the extra field (V%u, ASCII name CRC `%08x') are:\n   ",
                   kShownUtf8Bytes, data[0], crc);
    } else {
      std::fprintf(out, ".\n    The UTF8 data of the extra field (V%u, ASCII name CRC `%08x') are:\n   ",
                   data[0], crc);
    }
    for (size_t i = 0; i < std::min(text, kShownUtf8Bytes); ++i) std::fprintf(out, " %02x", data[5 + i]);
    std::fputc('.', out);
    return 0;
  }
  // Up to twenty bytes are shown, as zipinfo does.
  if (length > kShownBytes) {
    std::fprintf(out, ".  The first\n    %zu are:  ", kShownBytes);
  } else if (length > 0) {
    std::fprintf(out, ":\n   ");
  }
  for (size_t i = 0; i < std::min(length, kShownBytes); ++i) std::fprintf(out, " %02x", data[i]);
  std::fputc('.', out);
  // A 16-bit uid and gid: the local copy of the owner field holds them,
  // and so does the local copy of the old Unix field behind its times.
  constexpr size_t kLocalOwnerBytes = 4, kOldUnixTimesBytes = 8;
  if (id == kUnixOwner16Id && length == 0) return kLocalOwnerBytes;
  if (id == kOldUnixId && length == kOldUnixTimesBytes) return kLocalOwnerBytes;
  return 0;
}

// Returns the bytes the local copies of the fields hold beyond these.
uint64_t PrintExtraFields(std::FILE* out, const std::string& extra) {
  if (extra.empty()) return 0;
  uint64_t local_more = 0;
  std::fprintf(out, "\n  The central-directory extra field contains:");
  const auto* bytes = reinterpret_cast<const uint8_t*>(extra.data());
  size_t at = 0;
  while (extra.size() - at >= 4) {
    const uint16_t id = static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8));
    const size_t length = std::min<size_t>(bytes[at + 2] | (bytes[at + 3] << 8), extra.size() - at - 4);
    at += 4;
    local_more += PrintExtraField(out, id, bytes + at, length);
    at += length;
  }
  std::fputc('\n', out);
  return local_more;
}

constexpr uint32_t kHostFat = 0, kHostHpfs = 6, kHostNtfs = 11;
// Bit 15 of the external attributes' low word: a local-only field; bit 14:
// it holds the owner too.
constexpr uint32_t kLocalFieldMark = 0x8000, kLocalOwnerMark = 0x4000;

}  // namespace

unsigned ImpliedLocalFieldLength(const TAbZipItem& item) {
  const uint32_t external = item.DirectoryHeader().ExternalFileAttributes;
  const uint32_t host = item.MadeByVersion() >> 8u;
  if ((external & kLocalFieldMark) == 0) return 0;
  if (host != kHostUnix && host != kHostHpfs && host != kHostNtfs) return 0;
  return (external & kLocalOwnerMark) ? 12 : 8;
}

namespace {

// The local-only field of old Info-ZIP Zip (see ImpliedLocalFieldLength):
// zipinfo reports it for Unix, HPFS and NTFS entries and counts its bytes
// where it expects the next entry; for FAT entries it says there may be
// one (and only without the owner bit). Returns the bytes counted.
uint64_t PrintImpliedLocalField(std::FILE* out, const TAbZipItem& item) {
  const uint32_t external = item.DirectoryHeader().ExternalFileAttributes;
  const bool owner = (external & kLocalOwnerMark) != 0;
  const char* what = owner ? "GMT modification/access times and Unix UID/GID"
                           : "GMT modification/access times only";
  if (const unsigned length = ImpliedLocalFieldLength(item)) {
    std::fprintf(out, "\n  There is a local extra field with ID 0x%04x (%s) and\n  %u data bytes (%s).\n",
                 kOldUnixId, ExtraFieldName(kOldUnixId), length, what);
    return length;
  }
  if ((item.MadeByVersion() >> 8u) == kHostFat && (external & kLocalFieldMark) && !owner) {
    std::fprintf(out, "\n  There may be a local extra field with ID 0x%04x (%s) and\n  8 data bytes (%s).\n",
                 kOldUnixId, ExtraFieldName(kOldUnixId), what);
  }
  return 0;
}

// expected_offset: where this entry's local header would start if it
// followed the previous entry directly, as zipinfo reckons it from the
// central header (0 for the first entry, which is not checked). Returns
// where the next one is expected.
int64_t PrintEntry(std::FILE* out, const TAbZipItem& item, int number, int64_t expected_offset,
                   int64_t shift) {
  const auto& header = item.DirectoryHeader();
  const uint32_t made_by = header.VersionMadeBy, needed = header.VersionNeededToExtract;
  std::fprintf(out, "Central directory entry #%d:\n---------------------------\n\n", number);
  // As stored: without the bytes in front that the offsets do not count.
  const int64_t offset = static_cast<int64_t>(item.LocalHeaderOffset()) - shift;
  if (expected_offset > 0 && offset != expected_offset) {
    std::fprintf(out, "  There are an extra %" PRId64 " bytes preceding this file.\n\n",
                 offset - expected_offset);
  }
  std::fprintf(out, "  %s\n\n", SafeName(item.GetStoredName()).c_str());
  std::fprintf(out, "  offset of local header from start of archive:   %" PRId64 "\n", offset);
  std::fprintf(out, "                                                  (%016" PRIX64 "h) bytes\n",
               static_cast<uint64_t>(offset));
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
  uint64_t implied_local = PrintExtraFields(out, header.ExtraField);
  implied_local += PrintImpliedLocalField(out, item);
  if (header.FileComment.empty()) {
    std::fprintf(out, "\n  There is no file comment.\n");
  } else {
    std::fprintf(out, "\n------------------------- file comment begins ----------------------------\n%s\n"
                 "-------------------------- file comment ends -----------------------------\n",
                 SafeName(header.FileComment).c_str());
  }
  // The central header's name and extra field stand for the local ones; a
  // data descriptor is not counted, so one shows as bytes preceding the
  // next entry, as zipinfo shows it.
  return offset + static_cast<int64_t>(kLocalHeaderSize + header.FileName.size() +
                                       header.ExtraField.size() + PackedSize(item) + implied_local);
}

}  // namespace

void PrintZipInfoVerbose(std::FILE* out, const ZipInfoArchive& archive,
                         const std::vector<TAbZipItem*>& items,
                         const std::vector<int>& entry_numbers) {
  std::fprintf(out, "Archive:  %s\n", SafeName(archive.name).c_str());
  if (archive.comment.empty()) {
    std::fprintf(out, "There is no zipfile comment.\n");
  } else {
    std::fprintf(out, "The zipfile comment is %zu bytes long and contains the following text:\n",
                 archive.comment.size());
    std::fprintf(out, "======================== zipfile comment begins ==========================\n");
    std::string shown;
    // Line breaks are the comment's own (a CR before them dropped, as
    // zipinfo drops it); other control characters are not.
    for (const char c : archive.comment) {
      if (c != '\r') shown += c == '\n' ? std::string("\n") : SafeName(std::string(1, c));
    }
    std::fprintf(out, "%s%s", shown.c_str(), !shown.empty() && shown.back() == '\n' ? "" : "\n");
    std::fprintf(out, "========================= zipfile comment ends ===========================\n");
  }
  std::fprintf(out, "\nEnd-of-central-directory record:\n-------------------------------\n\n");
  PrintSized(out, "  Zip archive file size:", archive.file_size);
  PrintSized(out, "  Actual end-cent-dir record offset:", archive.end_record_offset);
  PrintSized(out, "  Expected end-cent-dir record offset:",
             archive.directory_offset + archive.directory_size);
  std::fprintf(out, "  (based on the length of the central directory and its expected offset)\n\n");
  if (archive.disk_number == 0 && archive.start_disk == 0) {
    std::fprintf(out, "  This zipfile constitutes the sole disk of a single-part archive; its\n");
    std::fprintf(out, "  central directory contains %d %s.\n", archive.entry_count,
                 archive.entry_count == 1 ? "entry" : "entries");
    std::fprintf(out, "  The central directory is %" PRIu64 " (%016" PRIX64 "h) bytes long,\n",
                 archive.directory_size, archive.directory_size);
    std::fprintf(out, "  and its (expected) offset in bytes from the beginning of the zipfile\n");
    std::fprintf(out, "  is %" PRIu64 " (%016" PRIX64 "h).\n\n", archive.directory_offset,
                 archive.directory_offset);
  } else {
    // The last part of a spanned or split set; disks are counted from 1.
    std::fprintf(out, "  This zipfile constitutes disk %" PRIu32 " of a multi-part archive.  The central\n",
                 archive.disk_number + 1);
    std::fprintf(out, "  directory starts on disk %" PRIu32 " at an offset within that archive part\n",
                 archive.start_disk + 1);
    std::fprintf(out, "  of %" PRIu64 " (%016" PRIX64 "h) bytes.  The entire\n", archive.directory_offset,
                 archive.directory_offset);
    std::fprintf(out, "  central directory is %" PRIu64 " (%016" PRIX64 "h) bytes long.\n",
                 archive.directory_size, archive.directory_size);
    std::fprintf(out, "  %" PRIu64 " of the archive entries are contained within this zipfile volume,\n",
                 archive.entries_on_disk);
    std::fprintf(out, "  out of a total of %d entries.\n\n", archive.entry_count);
  }
  int64_t expected_offset = 0;
  int previous_number = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    std::fprintf(out, "\n");
    const int number = i < entry_numbers.size() ? entry_numbers[i] : static_cast<int>(i) + 1;
    // zipinfo checks an entry's offset only against the entry right before
    // it in the archive, and only when that one was listed too.
    if (number != previous_number + 1) expected_offset = 0;
    expected_offset = PrintEntry(out, *items[i], number, expected_offset, archive.shift);
    previous_number = number;
  }
  std::fprintf(out, "\n");
  if (archive.entry_count == 0) std::fprintf(out, "  Empty zipfile.\n");
}

// The directory's size and offset from the end record, or from the ZIP64
// end record a locator points to, and where that record is: what zipinfo
// -v shows of the archive's tail.
void LocateEndRecords(TAbZipArchive& archive, ZipInfoArchive& shown) {
  const auto& end = archive.EndRecord();
  shown.directory_size = end.DirectorySize;
  shown.directory_offset = end.DirectoryOffset;
  shown.disk_number = end.DiskNumber;
  shown.start_disk = end.StartDiskNumber;
  shown.entries_on_disk = end.EntriesOnDisk;
  shown.shift = archive.ExtraBytes;
  TStream& stream = *archive.Stream();
  try {
    const int64_t end_position = FindEndOfDirectory(stream);
    if (end_position < 0) return;
    shown.end_record_offset = static_cast<uint64_t>(end_position);
    if (const auto zip64 = FindZip64End(stream, end_position)) {
      shown.directory_size = zip64->Record.DirectorySize;
      shown.directory_offset = zip64->Record.DirectoryOffset;
      shown.disk_number = zip64->Record.DiskNumber;
      shown.start_disk = zip64->Record.StartDiskNumber;
      shown.entries_on_disk = zip64->Record.EntriesOnDisk;
      shown.end_record_offset = static_cast<uint64_t>(zip64->Position);
    }
  } catch (const std::exception&) {
    // A locator that points at no record: the archive was read without it.
  }
}

}  // namespace velmora::vunzip
