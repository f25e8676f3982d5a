#include "tools/vunzip/zipinfo.h"

#include <sys/stat.h>

#include <cinttypes>
#include <cstring>

#include "archive/zip/zip_item.h"
#include "tools/vunzip/listing.h"

namespace velmora::vunzip {

namespace {

// Host systems in the high byte of "version made by" (APPNOTE 4.4.2) and
// zipinfo's three-letter names for them.
constexpr uint8_t kHostFat = 0;
constexpr uint8_t kHostCms = 4;
constexpr uint8_t kHostHpfs = 6;
constexpr uint8_t kHostNtfs = 11;
constexpr uint8_t kHostAcorn = 13;
constexpr uint8_t kHostVfat = 14;
constexpr uint8_t kHostMvs = 15;
constexpr const char* kHostNames[] = {"fat", "ami", "vms", "unx", "cms", "atr", "hpf",
                                      "mac", "zzz", "cpm", "t20", "ntf", "qds", "aco",
                                      "vft", "mvs", "be",  "nsk", "ths", "osx"};

// MS-DOS attribute bits (the low byte of the external attributes).
constexpr uint32_t kDosReadOnly = 0x01;
constexpr uint32_t kDosHidden = 0x02;
constexpr uint32_t kDosSystem = 0x04;
constexpr uint32_t kDosDirectory = 0x10;
constexpr uint32_t kDosArchive = 0x20;

// General purpose flag bit 3: sizes and CRC follow the data.
constexpr uint16_t kFlagDataDescriptor = 0x0008;

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string HostName(uint8_t host) {
  if (host < std::size(kHostNames)) return kHostNames[host];
  return "???";
}

bool ExecutableExtension(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  std::string ext = name.substr(dot + 1, 3);
  for (char& c : ext) c = static_cast<char>(c | 0x20);
  return ext == "com" || ext == "exe" || ext == "btm" || ext == "cmd" || ext == "bat";
}

std::string DosAttributeText(const TAbZipItem& item, uint32_t attributes) {
  std::string text = "-r--a--";
  text[2] = (attributes & kDosReadOnly) ? '-' : 'w';
  text[4] = (attributes & kDosArchive) ? 'a' : '-';
  text[5] = (attributes & kDosHidden) ? 'h' : '-';
  text[6] = (attributes & kDosSystem) ? 's' : '-';
  if (attributes & kDosDirectory) {
    text[0] = 'd';
    text[3] = 'x';
  } else if (ExecutableExtension(item.GetStoredName())) {
    text[3] = 'x';
  }
  return text;
}

std::string UnixAttributeText(uint32_t mode) {
  std::string text = "----------";
  switch (mode & S_IFMT) {
    case S_IFREG: text[0] = '-'; break;
    case S_IFDIR: text[0] = 'd'; break;
    case S_IFLNK: text[0] = 'l'; break;
    case S_IFIFO: text[0] = 'p'; break;
    case S_IFCHR: text[0] = 'c'; break;
    case S_IFBLK: text[0] = 'b'; break;
    case S_IFSOCK: text[0] = 's'; break;
    default: text[0] = '?'; break;
  }
  const char* const kRwx = "rwxrwxrwx";
  for (int bit = 0; bit < 9; ++bit) {
    if (mode & (0400u >> bit)) text[1 + bit] = kRwx[bit];
  }
  if (mode & S_ISUID) text[3] = (mode & S_IXUSR) ? 's' : 'S';
  if (mode & S_ISGID) text[6] = (mode & S_IXGRP) ? 's' : 'S';
  if (mode & S_ISVTX) text[9] = (mode & S_IXOTH) ? 't' : 'T';
  return text;
}

std::string DateText(const std::tm& t, bool decimal) {
  char text[64];
  if (decimal) {
    std::snprintf(text, sizeof text, "%04d%02d%02d.%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  } else {
    // A month outside 1..12 (a zero DOS date) shows as its number, "000".
    char month[8];
    if (t.tm_mon >= 0 && t.tm_mon < 12) {
      std::snprintf(month, sizeof month, "%s", kMonths[t.tm_mon]);
    } else {
      std::snprintf(month, sizeof month, "%03d", (t.tm_mon + 1) % 1000);
    }
    std::snprintf(text, sizeof text, "%02d-%s-%02d %02d:%02d", (t.tm_year + 1900) % 100, month,
                  t.tm_mday, t.tm_hour, t.tm_min);
  }
  return text;
}

// zipinfo's per-item ratio: the permille rounded by adding 5 and
// truncating toward zero, so -12.5% shows as -12%.
std::string ZipInfoPercent(int64_t permille) {
  return std::to_string((permille + 5) / 10);
}

void PrintItemLine(std::FILE* out, const TAbZipItem& item, ZipInfoFormat format, bool decimal) {
  const uint16_t made_by = item.MadeByVersion();
  const uint64_t size = UnpackedSize(item);
  const bool encrypted = item.GetEncrypted();
  const bool text = (item.DirectoryHeader().InternalFileAttributes & 1) != 0;
  const bool extra = !item.DirectoryHeader().ExtraField.empty() || ImpliedLocalFieldLength(item) > 0;
  const bool descriptor = (item.FlagBits() & kFlagDataDescriptor) != 0;
  char kind[3] = {text ? 't' : 'b', '-', 0};
  if (encrypted) kind[0] = static_cast<char>(kind[0] - 'a' + 'A');
  kind[1] = extra ? (descriptor ? 'X' : 'x') : (descriptor ? 'l' : '-');
  std::string middle;
  if (format == ZipInfoFormat::kMedium) {
    char percent[32];
    std::snprintf(percent, sizeof percent, "%3s%%",
                  ZipInfoPercent(SavedPermille(size, ListedPackedSize(item))).c_str());
    middle = percent;
  } else if (format == ZipInfoFormat::kLong) {
    char packed[32];
    std::snprintf(packed, sizeof packed, " %8" PRIu64, PackedSize(item));
    middle = packed;
  }
  std::fprintf(out, "%-10s  %u.%u %-3s %8" PRIu64 " %s%s %s %s %s\n", AttributeText(item).c_str(),
               (made_by & 0xFF) / 10, (made_by & 0xFF) % 10, HostName(made_by >> 8).c_str(), size,
               kind, middle.c_str(), ZipInfoMethod(item).c_str(),
               DateText(ItemTime(item), decimal).c_str(), SafeName(item.GetStoredName()).c_str());
}

}  // namespace

std::string AttributeText(const TAbZipItem& item) {
  const uint8_t host = static_cast<uint8_t>(item.MadeByVersion() >> 8);
  const uint32_t external = item.DirectoryHeader().ExternalFileAttributes;
  const uint32_t mode = external >> 16;
  switch (host) {
    case kHostFat: case kHostCms: case kHostHpfs: case kHostNtfs: case kHostAcorn:
    case kHostVfat: case kHostMvs: {
      // A FAT entry whose upper half holds a Unix mode that agrees with its
      // DOS bits was written by a Unix zip: zipinfo shows the mode then.
      const uint32_t expected = 0400u | ((external & kDosReadOnly) ? 0u : 0200u) |
                                ((external & kDosDirectory) ? 0100u : 0u);
      if (host != kHostFat || (mode & 0700u) != expected) {
        return DosAttributeText(item, external & 0xFF);
      }
      return UnixAttributeText(mode);
    }
    default:
      return UnixAttributeText(mode);
  }
}

std::string ZipInfoMethod(const TAbZipItem& item) {
  static const char kLevel[] = {'N', 'X', 'F', 'S'};
  const char level = kLevel[(item.FlagBits() >> 1) & 3];
  switch (item.Method()) {
    case 0: return "stor";
    case 1: return "shrk";
    case 2: case 3: case 4: case 5: return "re:" + std::to_string(item.Method() - 1);
    case 6: {
      // Bit 1: an 8 KB dictionary (else 4 KB); bit 2: three trees (else two).
      return std::string("i") + ((item.FlagBits() & 2) ? "8" : "4") + ":" +
             ((item.FlagBits() & 4) ? "3" : "2");
    }
    case 7: return "tokn";
    case 8: return std::string("def") + level;
    case 9: return std::string("d64") + level;
    case 10: return "dcli";
    case 12: return "bzp2";
    case 14: return "lzma";
    case 18: return "ibmt";
    case 19: return "lz77";
    case 96: return "jpeg";
    case 97: return "wavp";
    case 98: return "ppmd";
    default: {
      char text[16];
      std::snprintf(text, sizeof text, "u%03u", item.Method());
      return text;
    }
  }
}

bool ZipInfoShowsHeader(const ZipInfoOptions& options, bool names_given) {
  switch (options.format) {
    case ZipInfoFormat::kNamesOnly: return false;
    case ZipInfoFormat::kNames: return options.header.value_or(false);
    case ZipInfoFormat::kVerbose: return true;
    default: break;
  }
  if (options.explicit_format) return true;
  if (options.header || options.totals) return options.header.value_or(false);
  return !names_given;
}

void PrintZipInfo(std::FILE* out, const ZipInfoArchive& archive,
                  const std::vector<TAbZipItem*>& items, const ZipInfoOptions& options,
                  bool names_given) {
  const ZipInfoFormat format = options.format;
  const bool header = ZipInfoShowsHeader(options, names_given);
  bool totals = false, listing = true, comment = options.comment;
  if (format == ZipInfoFormat::kNamesOnly) {
    comment = false;
  } else if (format == ZipInfoFormat::kNames) {
    totals = options.totals.value_or(false);
  } else if (options.explicit_format) {
    totals = true;
  } else if (options.header || options.totals) {
    // -h or -t alone: only what they ask for, unless names pick items.
    totals = options.totals.value_or(false);
    listing = names_given;
  } else {
    totals = !names_given;
  }
  if (header) std::fprintf(out, "Archive:  %s\n", SafeName(archive.name).c_str());
  if (comment) PrintComment(out, archive.comment);
  if (header) {
    std::fprintf(out, "Zip file size: %" PRIu64 " bytes, number of entries: %d\n",
                 archive.file_size, archive.entry_count);
    std::fputs(archive.warning.c_str(), out);
  }
  uint64_t total = 0, total_packed = 0;
  for (const TAbZipItem* item : items) {
    total += UnpackedSize(*item);
    total_packed += ListedPackedSize(*item);
    if (!listing) continue;
    if (format == ZipInfoFormat::kNamesOnly || format == ZipInfoFormat::kNames) {
      std::fprintf(out, "%s\n", SafeName(item->GetStoredName()).c_str());
    } else {
      PrintItemLine(out, *item, format, options.decimal_times);
    }
  }
  // An archive without entries says so, whatever was asked.
  if (archive.entry_count == 0) {
    std::fprintf(out, "Empty zipfile.\n");
    return;
  }
  if (!totals) return;
  const int64_t permille = SavedPermille(total, total_packed);
  const int64_t magnitude = permille < 0 ? -permille : permille;
  std::fprintf(out,
               "%zu file%s, %" PRIu64 " bytes uncompressed, %" PRIu64
               " bytes compressed:  %s%" PRId64 ".%" PRId64 "%%\n",
               items.size(), items.size() == 1 ? "" : "s", total, total_packed,
               permille < 0 ? "-" : "", magnitude / 10, magnitude % 10);
}

}  // namespace velmora::vunzip
