// Methods 2 to 5, reduce with compression factor 1 to 4: follower sets
// per character, then a byte stream with 144 (0x90) as the escape of
// length/distance pairs.
#pragma once

#include <cstdint>

namespace velmora {

class TAbUnzipHelper;

// factor is method - 1; outside 1 to 4 raises EAbZipInvalidFactor. A
// follower set of more than 32 characters raises EAbLegacyDataError.
void Unreduce(TAbUnzipHelper& helper, int32_t factor);

}  // namespace velmora
