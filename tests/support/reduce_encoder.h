// A test-side encoder of ZIP methods 2 to 5 (reduce with factor 1 to 4):
// an LZ77 parse written as a byte stream with 144 as the escape of
// length/distance pairs, then squeezed with per-character follower sets.
#pragma once

#include <cstdint>
#include <vector>

#include "legacy_encoder_common.h"

namespace velmora::testing {

// The longest copy and the farthest reach of a factor.
uint32_t ReduceMaxLength(int factor);
uint32_t ReduceMaxDistance(int factor);

// max_followers (0 to 32) caps every follower set, so that tests reach the
// empty set and the narrow index widths.
std::vector<uint8_t> EncodeReduce(const std::vector<uint8_t>& data, int factor,
                                  int max_followers = 32);

// Encodes the given tokens as they are. A copy of 3 bytes from at most 256
// back cannot be expressed (its escape byte would be 0) and is written as
// literals of what it expands to.
std::vector<uint8_t> EncodeReduceTokens(const std::vector<LzToken>& tokens, int factor,
                                        int max_followers = 32);

}  // namespace velmora::testing
