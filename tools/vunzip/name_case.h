// -L and -LL: names read in lower case, as unzip reads them. unzip's -L
// lowers the names of items made on systems that keep a single case
// (MS-DOS FAT, VMS, VM/CMS, CP/M, TOPS-20, MVS, Tandem), whose archivers
// store them in capitals; -LL lowers every name. The lowered name is the
// name throughout: masks match it, listings and item lines show it (a
// listing marks it with "^"), and the file written takes it. Only ASCII
// letters change, as unzip's tolower() in the C locale changes them.
#pragma once

#include <string>

#include "archive/zip/zip_item.h"

namespace velmora::vunzip {

class NameCase {
 public:
  // level: 0 names as stored, 1 -L, 2 -LL.
  explicit NameCase(int level = 0) : level_(level) {}

  // -L or -LL was given: listings say what "^" means.
  bool Active() const { return level_ > 0; }
  bool Lowers(const TAbZipItem& item) const;
  // The item's name as matched, shown and written.
  std::string NameOf(const TAbZipItem& item) const;
  // A name the engine hands over for the item (its stored name, or a
  // target built from it), lowered where the item's name is.
  std::string Apply(const TAbZipItem& item, std::string name) const;

 private:
  int level_;
};

}  // namespace velmora::vunzip
