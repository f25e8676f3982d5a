#include "archive/base/percent.h"

namespace velmora {

namespace {
// Past this, Part * 100 could leave the 32-bit range.
constexpr int32_t kLargestUnscaledWhole = 0xFA0000;  // 16,384,000

int32_t ScaleDown(int32_t value) {
  // A logical shift of the 32-bit sum, as the progress counters are unsigned
  // at heart.
  return static_cast<int32_t>((static_cast<uint32_t>(value) + 128u) >> 8);
}
}  // namespace

uint8_t PercentOf(int32_t Part, int32_t Whole) {
  if (Whole > kLargestUnscaledWhole) {
    Part = ScaleDown(Part);
    Whole = ScaleDown(Whole);
  }
  if (Whole <= 0) return 0;
  if (Whole <= Part) return 100;
  // Nothing has been done yet when Part is negative; a wrapped-around byte
  // would report nonsense.
  if (Part <= 0) return 0;
  return static_cast<uint8_t>(Part * 100 / Whole);  // Part < Whole <= 16,384,000
}

}  // namespace velmora
