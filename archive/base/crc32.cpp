#include "archive/base/crc32.h"

namespace velmora {

void UpdateCrc32Block(uint32_t& crc, const void* buffer, uint16_t count) {
  UpdateCrc32Buffer(crc, buffer, count);
}

void UpdateCrc32Buffer(uint32_t& crc, const void* buffer, int32_t count) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  uint32_t c = crc;
  for (int32_t i = 0; i < count; ++i) c = UpdateCrc32Byte(p[i], c);
  crc = c;
}

}  // namespace velmora
