// unzip's answers to damage it finds in test mode beyond what the engine
// checks: an extra-field block in a local header whose entry runs past the
// block's end. The local header is read here, in vunzip, as unzip reads it.
#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace velmora {
class TAbZipItem;
class TStream;
}  // namespace velmora

namespace velmora::vunzip {

// What is wrong, in unzip's words (the lines after "testing: NAME"), or
// nothing. A local header that cannot be found where the central entry
// says, or whose name differs, is left to the engine, which reports it.
std::optional<std::string> LocalExtraFieldDamage(std::ifstream& archive, const TAbZipItem& item);
std::optional<std::string> LocalExtraFieldDamage(TStream& archive, const TAbZipItem& item);

// What the item's local header says that the central directory does not,
// as unzip finds it: a different name or, for a stored item, sizes that
// disagree (warnings, in unzip's words, for the warning exit code), and a
// CRC that disagrees (an error, in words that say what to do). Nothing
// when the header cannot be found where the entry says; the engine
// reports that.
struct LocalHeaderReport {
  std::vector<std::string> warnings;
  std::optional<std::string> error;
};
LocalHeaderReport CompareLocalHeader(std::ifstream& archive, const TAbZipItem& item);
// The same read through the archive's own stream (a single-file archive),
// which leaves the stream anywhere.
LocalHeaderReport CompareLocalHeader(TStream& archive, const TAbZipItem& item);

// The whole length of the item's local header (fixed part, name, extra
// field), or nothing when it cannot be found where the entry says.
std::optional<uint64_t> LocalHeaderLength(std::ifstream& archive, const TAbZipItem& item);

// The same check on one extra-field block: the text unzip prints, or
// nothing when every entry fits.
std::optional<std::string> ExtraFieldDamage(const std::string& block);

}  // namespace velmora::vunzip
