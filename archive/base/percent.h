// The percentage of progress reports.
#pragma once

#include <cstdint>

namespace velmora {

// Part of Whole in percent, 0 to 100. Wholes beyond 16,384,000 are scaled
// down by 256 first so that Part * 100 stays within 32 bits.
uint8_t PercentOf(int32_t Part, int32_t Whole);

}  // namespace velmora
