// unzip's answers to damage it finds in test mode beyond what the engine
// checks: an extra-field block in a local header whose entry runs past the
// block's end. The local header is read here, in vunzip, as unzip reads it.
#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "archive/zip/bit_bucket_stream.h"

namespace velmora {
class TAbZipItem;
class TStream;
}  // namespace velmora

namespace velmora::vunzip {

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

// What test mode checks, from one read of the header: the comparison above
// and what is wrong with its extra field, in unzip's words (the lines after
// "testing: NAME"), or nothing. A header that cannot be found where the
// central entry says, or whose name differs, has no extra-field damage:
// that is left to the engine, which reports it.
struct LocalHeaderChecks {
  LocalHeaderReport report;
  std::optional<std::string> extra_field_damage;
};
LocalHeaderChecks CheckLocalHeader(std::ifstream& archive, const TAbZipItem& item);
LocalHeaderChecks CheckLocalHeader(TStream& archive, const TAbZipItem& item);

// The same check on one extra-field block: the text unzip prints, or
// nothing when every entry fits.
std::optional<std::string> ExtraFieldDamage(const std::string& block);

// The sink of test mode, which also keeps the CRC-32 of what it is given,
// so that a CRC that disagrees is reported with both values, as unzip
// reports it.
class CrcCountingBucket : public TAbBitBucketStream {
 public:
  int32_t Write(const void* buffer, int32_t count) override;
  uint32_t Crc() const { return ~crc_; }

 private:
  uint32_t crc_ = 0xFFFFFFFFu;
};

// unzip's test line for data whose CRC disagrees: "    testing: NAME   bad
// CRC ...", or with -q, the name and the words alone.
std::string BadCrcLine(const std::string& name, uint32_t found, uint32_t expected, bool quiet);

// unzip's line for an item it does not process: "   skipping: NAME  why".
std::string SkippingLine(const std::string& name, const std::string& reason);
// Why the engine cannot read the item, in unzip's manner of saying it.
std::string UnsupportedReason(const TAbZipItem& item);

}  // namespace velmora::vunzip
