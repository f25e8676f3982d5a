#include "archive/checksum/crc32.h"

#include "archive/checksum/crc32_fold.h"
#include "archive/checksum/crc32_kernels.h"

namespace velmora {
namespace {

using Kernel = uint32_t (*)(uint32_t, const uint8_t*, size_t);

// Below this length the set-up and final reduction of the folding cost more
// than they save.
constexpr int32_t kFoldingThreshold = 256;

Kernel ChooseKernel() {
  if (crc32_detail::HasWideCarrylessMultiply()) return crc32_detail::UpdateFoldedWide;
  if (crc32_detail::HasCarrylessMultiply()) return crc32_detail::UpdateFolded;
  return crc32_detail::UpdateSliced;
}

}  // namespace

void UpdateCrc32Block(uint32_t& crc, const void* buffer, uint16_t count) {
  UpdateCrc32Buffer(crc, buffer, count);
}

void UpdateCrc32Buffer(uint32_t& crc, const void* buffer, int32_t count) {
  if (count <= 0) return;
  const auto* data = static_cast<const uint8_t*>(buffer);
  const auto length = static_cast<size_t>(count);
  if (count < kFoldingThreshold) {
    crc = crc32_detail::UpdateSliced(crc, data, length);
    return;
  }
  static const Kernel kernel = ChooseKernel();
  crc = kernel(crc, data, length);
}

bool Crc32LoopFoldAvailable() {
#if defined(__x86_64__)
  static const bool available = crc32_detail::HasWideCarrylessMultiply();
  return available;
#else
  return false;
#endif
}

uint32_t Crc32OfFoldAccumulator(const uint8_t* accumulator) {
  return crc32_detail::ReduceLoopFold(accumulator);
}

}  // namespace velmora
