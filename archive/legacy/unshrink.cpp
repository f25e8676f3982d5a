#include "archive/legacy/unshrink.h"

#include <vector>

#include "archive/legacy/unzip_helper.h"
#include "rtl/format.h"

namespace velmora {

namespace {

constexpr int32_t kTableSize = 8192;  // codes of up to 13 bits
constexpr int32_t kFirstCodeSize = 9;
constexpr int32_t kMaxCodeSize = 13;
constexpr int32_t kControlCode = 256;  // followed by 1 (wider codes) or 2 (partial clear)
constexpr int32_t kFirstFreeCode = 257;
constexpr int16_t kFree = -1;

struct ShrinkTables {
  std::vector<int16_t> prefix = std::vector<int16_t>(kTableSize, kFree);
  std::vector<uint8_t> suffix = std::vector<uint8_t>(kTableSize, 0);
  std::vector<uint8_t> stack = std::vector<uint8_t>(kTableSize);
  std::vector<uint8_t> leaf = std::vector<uint8_t>(kTableSize);
  int32_t next_free = kFirstFreeCode;

  ShrinkTables() {
    for (int32_t c = 0; c < 256; ++c) {
      prefix[c] = 0;
      suffix[c] = static_cast<uint8_t>(c);
    }
  }

  int32_t LowestFreeFrom(int32_t code) const {
    while (code < kTableSize && prefix[code] != kFree) ++code;
    return code;
  }

  // Frees every code below next_free that is no other code's prefix.
  void PartialClear() {
    for (int32_t c = kFirstFreeCode; c < next_free; ++c) leaf[c] = 1;
    for (int32_t c = kFirstFreeCode; c < next_free; ++c) {
      if (prefix[c] != kFree) leaf[prefix[c]] = 0;
    }
    for (int32_t c = kFirstFreeCode; c < next_free; ++c) {
      if (leaf[c]) prefix[c] = kFree;
      leaf[c] = 0;
    }
    next_free = LowestFreeFrom(kFirstFreeCode);
  }
};

[[noreturn]] void FailLoop() {
  throw EAbLegacyDataError("Shrunk data holds a code whose string leads back to itself");
}

// Reads the next code, obeying the control sequences in front of it.
int32_t ReadCode(TAbUnzipHelper& h, ShrinkTables& t, int32_t& code_size) {
  int32_t code = static_cast<int32_t>(h.ReadBits(code_size));
  while (code == kControlCode && !h.InputEnded()) {
    const uint32_t control = h.ReadBits(code_size);
    if (control == 1) {
      if (code_size == kMaxCodeSize) {
        throw EAbLegacyDataError(
            Format("Shrunk data asks for %d-bit codes; at most %d bits fit",
                   {code_size + 1, kMaxCodeSize}));
      }
      ++code_size;
    } else if (control == 2) {
      t.PartialClear();
    }
    code = static_cast<int32_t>(h.ReadBits(code_size));
  }
  return code;
}

}  // namespace

void Unshrink(TAbUnzipHelper& h) {
  ShrinkTables t;
  int32_t code_size = kFirstCodeSize;
  int32_t previous = static_cast<int32_t>(h.ReadBits(code_size));
  if (h.InputEnded()) return;
  h.WriteByte(static_cast<uint8_t>(previous));
  uint8_t last_char = static_cast<uint8_t>(previous);
  while (!h.InputEnded()) {
    const int32_t code = ReadCode(h, t, code_size);
    if (h.InputEnded()) break;
    // Walk the string back to its first character. A free code is the one
    // being defined by this very step (KwKwK): the previous string plus its
    // own first character.
    // Plain pointers: the byte stores below may alias anything, and the
    // vectors' own pointers would be reloaded after each of them.
    const int16_t* prefix = t.prefix.data();
    const uint8_t* suffix = t.suffix.data();
    uint8_t* stack = t.stack.data();
    int32_t sp = 0;
    int32_t c = code;
    if (prefix[c] == kFree) {
      stack[sp++] = last_char;
      c = previous;
    }
    while (c > kControlCode) {
      if (sp == kTableSize) FailLoop();
      const int32_t up = prefix[c];
      if (up == kFree) {
        stack[sp++] = last_char;
        c = previous;
      } else {
        stack[sp++] = suffix[c];
        c = up;
      }
    }
    const uint8_t first = t.suffix[c];
    h.WriteByte(first);
    h.WriteReversed(stack, sp);
    if (t.next_free < kTableSize) {
      t.prefix[t.next_free] = static_cast<int16_t>(previous);
      t.suffix[t.next_free] = first;
      t.next_free = t.LowestFreeFrom(t.next_free + 1);
    }
    previous = code;
    last_char = first;
  }
}

}  // namespace velmora
