// A test-side encoder of ZIP method 6 (implode): an LZ77 parse coded with
// two or three Shannon-Fano trees (literals when there are three, lengths,
// distances) over a 4 KB or 8 KB dictionary.
#pragma once

#include <cstdint>
#include <vector>

#include "legacy_encoder_common.h"

namespace velmora::testing {

struct ImplodeEncoderOptions {
  bool dictionary_8k = true;  // general purpose flag bit 1
  bool three_trees = true;    // general purpose flag bit 2
};

uint32_t ImplodeMinLength(const ImplodeEncoderOptions& options);
uint32_t ImplodeMaxLength(const ImplodeEncoderOptions& options);  // 63 + 255 + minimum
uint32_t ImplodeMaxDistance(const ImplodeEncoderOptions& options);

std::vector<uint8_t> EncodeImplode(const std::vector<uint8_t>& data,
                                   const ImplodeEncoderOptions& options);
std::vector<uint8_t> EncodeImplodeTokens(const std::vector<LzToken>& tokens,
                                         const ImplodeEncoderOptions& options);

// Bit lengths (1 to 16) of a complete prefix code for the frequencies,
// every symbol included.
std::vector<uint8_t> ShannonFanoLengths(const std::vector<uint32_t>& frequencies);

}  // namespace velmora::testing
