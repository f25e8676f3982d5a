// The -l and -v listings, in the layout unzip users read.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace velmora {
class TAbZipArchive;
class TAbZipItem;
}  // namespace velmora

namespace velmora::vunzip {

// "2024-05-17 13:45" from a DOS date and time.
std::string DosDateTimeText(uint16_t date, uint16_t time);
// "Defl:N", "Stored", "Def64", "BZip2", "Unk:099" ...
std::string MethodName(const TAbZipItem& item);

void PrintList(std::FILE* out, const std::string& archive_name,
               const std::vector<TAbZipItem*>& items);
void PrintVerboseList(std::FILE* out, const std::string& archive_name,
                      const std::vector<TAbZipItem*>& items);

}  // namespace velmora::vunzip
