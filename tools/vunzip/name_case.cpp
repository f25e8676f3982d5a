#include "tools/vunzip/name_case.h"

namespace velmora::vunzip {

namespace {

// The hosts of the "version made by" field whose file systems keep one case.
bool SingleCaseHost(uint8_t host) {
  switch (host) {
    case 0:   // MS-DOS and OS/2 FAT
    case 2:   // VMS
    case 4:   // VM/CMS
    case 9:   // CP/M
    case 10:  // TOPS-20
    case 15:  // MVS
    case 17:  // Tandem
      return true;
    default:
      return false;
  }
}

}  // namespace

bool NameCase::Lowers(const TAbZipItem& item) const {
  return level_ >= 2 || (level_ == 1 && SingleCaseHost(static_cast<uint8_t>(item.MadeByVersion() >> 8)));
}

std::string NameCase::NameOf(const TAbZipItem& item) const {
  return Apply(item, item.GetStoredName());
}

std::string NameCase::Apply(const TAbZipItem& item, std::string name) const {
  if (!Lowers(item)) return name;
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return name;
}

}  // namespace velmora::vunzip
