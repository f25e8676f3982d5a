// vunzip's readers of what it is given: the command line (options and
// masks), unzip's wildcards against a name (plain and -W's), an item's
// extra field (the extended timestamp, the entry walk of test mode,
// zipinfo -v's reading of each field), the ratio arithmetic of the
// listings, the safe form of a name and -a's text conversion.
//
// Input: NUL-separated fields. The first two are a mask and a name; the
// third an extra-field block; all of them together also form a command
// line. The first 16 bytes also give two sizes for the ratio.
//
// Seeds (fuzz/corpus/vunzip_command_line_fuzzer), made with printf:
//   mask_and_timestamp  '[a-c]*/?.txt\0b/x.txt\0UT\x05\x00\x01\x00\x00\x00\x60'
//   bad_extra_entry     'd/*\0d/a\x1b[2Jb\0UT\x58\x00\x01' (an entry longer than its block)
//   command_line        '-qo\0a.zip\0-x\0*.txt\0-d\0out'
//   huge_ratio          eight 0xff bytes, then 1 as a 64-bit little-endian size
//   verbose_fields      '*\0n\0up\x09\x00\x01\x2a\x2b\x2c\x2dabcdLA\x02\x00\x01\x02'
//                       (a Unicode path field, and an ACL field cut short)
//   local_header        a stored item's local header whose sizes disagree:
//                       'PK\x03\x04\x0a\0\0\0\0\0\0\0\0\0\x11\x22\x33\x44\x05\0\0\0\x04\0\0\0\x01\0\0\0a\0a'
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "archive/zip/text_mode.h"
#include "archive/zip/zip_item.h"
#include "tools/vunzip/damage.h"
#include "tools/vunzip/listing.h"
#include "tools/vunzip/options.h"
#include "tools/vunzip/wildcard.h"
#include "tools/vunzip/zipinfo.h"

namespace {

// -a's conversion: the same text however it is cut into pieces, never
// longer than what it was given, and with no CR or ^Z left in it.
void CheckTextMode(const std::string& text, size_t piece) {
  const auto convert = [&](size_t size) {
    velmora::TAbTextModeConverter converter;
    std::string out;
    for (size_t at = 0; at < text.size(); at += size) {
      const size_t count = std::min(size, text.size() - at);
      std::string part(count + 1, '\0');
      part.resize(converter.Convert(reinterpret_cast<const uint8_t*>(text.data() + at), count,
                                    reinterpret_cast<uint8_t*>(part.data())));
      out += part;
    }
    uint8_t last = 0;
    if (converter.Finish(&last) == 1) out += static_cast<char>(last);
    return out;
  };
  const std::string whole = convert(std::max<size_t>(text.size(), 1));
  if (whole.size() > text.size() || whole.find_first_of("\r\x1a") != std::string::npos) {
    __builtin_trap();
  }
  if (convert(piece % 7 + 1) != whole) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velmora::vunzip;
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t at; (at = input.find('\0', start)) != std::string::npos; start = at + 1) {
    fields.push_back(input.substr(start, at - start));
  }
  fields.push_back(input.substr(start));
  const std::string mask = fields[0];
  const std::string name = fields.size() > 1 ? fields[1] : std::string();
  const std::string extra = fields.size() > 2 ? fields[2] : std::string();

  // -W only narrows "*" and "?": what it matches, the plain reading does.
  for (const bool case_blind : {false, true}) {
    const bool plain = WildcardMatch(mask, name, case_blind);
    if (WildcardMatch(mask, name, case_blind, true) && !plain) __builtin_trap();
  }
  const std::string shown = SafeName(name);
  for (const char c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) __builtin_trap();
  }
  ExtraFieldDamage(extra);
  CheckTextMode(name, mask.size());

  velmora::TAbZipItem item;
  item.DirectoryHeader().ExtraField = extra;
  item.DirectoryHeader().FileName = name;
  int64_t seconds = 0;
  ExtendedModTime(item, seconds);
  ItemTime(item);

  // zipinfo -v's report of that item, thrown away: its fields, and with the
  // input's first bytes as the external attributes and the host, the bits
  // that mark a field only the local header holds.
  static std::FILE* const sink = std::fopen("/dev/null", "w");
  if (size >= 6 && sink != nullptr) {
    uint32_t attributes = 0;
    std::memcpy(&attributes, data, 4);
    item.DirectoryHeader().ExternalFileAttributes = attributes;
    item.DirectoryHeader().VersionMadeBy = static_cast<uint16_t>(data[4] | (data[5] << 8));
    PrintZipInfoVerbose(sink, ZipInfoArchive{}, {&item}, {1});
  }

  // The whole input as an archive file whose first item's local header is
  // compared with a central entry named by the second field.
  // Made once, and removed when the fuzzer ends.
  struct ScratchFile {
    ScratchFile() : path(std::filesystem::temp_directory_path().string() + "/vunzip-fuzz-XXXXXX") {
      const int fd = ::mkstemp(path.data());
      if (fd >= 0) ::close(fd);
    }
    ~ScratchFile() { ::unlink(path.c_str()); }
    std::string path;
  };
  static const ScratchFile scratch;
  const std::string& local_path = scratch.path;
  // Only inputs that start as a local header do: writing a file each run
  // would slow the rest of this target down.
  if (input.compare(0, 4, std::string("PK\x03\x04", 4)) == 0) {
    std::ofstream(local_path, std::ios::binary | std::ios::trunc) << input;
    std::ifstream raw(local_path, std::ios::binary);
    CompareLocalHeader(raw, item);
    CheckLocalHeader(raw, item);
  }

  ParseCommandLine(fields, false, extra);
  ParseCommandLine(fields, true, mask);

  if (size >= 16) {
    uint64_t unpacked = 0, packed = 0;
    std::memcpy(&unpacked, data, 8);
    std::memcpy(&packed, data + 8, 8);
    const int64_t permille = SavedPermille(unpacked, packed);
    if (permille > 1000 || permille < -999999) __builtin_trap();
    PercentText(permille);
  }
  return 0;
}
