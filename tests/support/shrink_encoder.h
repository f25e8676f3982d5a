// A test-side encoder of ZIP method 1 (shrink): dynamic LZW whose code
// table mirrors the decoder's step for step, with the control sequences
// 256,1 (one bit wider codes) and 256,2 (partial clearing) at chosen places.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmora::testing {

struct ShrinkEncoderOptions {
  // Input offsets before which the code size grows by one (256, 1), even
  // when the codes in use would still fit.
  std::vector<size_t> widen_at;
  // Input offsets before which the leaf codes are cleared (256, 2). The
  // clearing covers the codes below the next free one, so a table that is
  // cleared before it is full must be full again (every code below the
  // highest in use defined) before the next clear, or strings break.
  std::vector<size_t> partial_clear_at;
  // Clear the leaf codes whenever the table of 8,192 codes is full.
  bool clear_when_full = true;
};

std::vector<uint8_t> EncodeShrink(const std::vector<uint8_t>& data,
                                  const ShrinkEncoderOptions& options = {});

}  // namespace velmora::testing
