// Literal and match decoding: the decoder's hot loop and its careful tail.
#include <cstring>

#include "archive/inflate/inflate_blocks.h"
#include "archive/inflate/inflate_errors.h"

namespace velmora {

namespace {
using namespace fast_entry;

// Deflate and Deflate64 differ in a few constants only.
struct DeflateTraits {
  static constexpr int32_t kMaxMatch = 258;
  // Bits peeked beyond the code: the largest count of length extra bits.
  static constexpr int32_t kLiteralPeekExtra = 5;
  static constexpr const char* kBadDistance = inflate_cause::kDistanceSymbol;
};
struct Deflate64Traits {
  static constexpr int32_t kMaxMatch = 65538;
  static constexpr int32_t kLiteralPeekExtra = 16;
  static constexpr const char* kBadDistance = inflate_cause::kDistance64Symbol;
};
// Largest count of distance extra bits (Deflate64's symbols 30 and 31).
constexpr int32_t kDistancePeekExtra = 14;

inline uint64_t LowBits(uint64_t bits, uint32_t count) {
  return bits & ((uint64_t{1} << count) - 1);
}

inline void Copy8(uint8_t* dst, const uint8_t* src) {
  uint64_t chunk;
  std::memcpy(&chunk, src, 8);
  std::memcpy(dst, &chunk, 8);
}

// Copies a match; may write up to 31 bytes past its end, which the window
// leaves room for. distance is at least 1 and reaches no further back than
// the window start. Each 8-byte load lies wholly behind the bytes it is
// copied to, so overlapping matches repeat their period correctly.
inline void CopyMatch(uint8_t* out, uint32_t length, uint32_t distance) {
  const uint8_t* src = out - distance;
  uint8_t* const end = out + length;
  if (distance >= 8) {
    // Most matches are short: three words cover them without a loop.
    Copy8(out, src);
    Copy8(out + 8, src + 8);
    Copy8(out + 16, src + 16);
    out += 24;
    src += 24;
    while (out < end) {
      Copy8(out, src);
      Copy8(out + 8, src + 8);
      out += 16;
      src += 16;
    }
  } else if (distance == 1) {
    uint64_t pattern = 0x0101010101010101ull * *src;
    do {
      std::memcpy(out, &pattern, 8);
      std::memcpy(out + 8, &pattern, 8);
      out += 16;
    } while (out < end);
  } else {
    // A short period: lay down 8 bytes one by one, then copy words from a
    // whole number of periods back, at least 8 bytes behind.
    for (int i = 0; i < 8; ++i) out[i] = src[i];
    const uint32_t step = (8 + distance - 1) / distance * distance;
    out += 8;
    src = out - step;
    while (out < end) {
      Copy8(out, src);
      out += 8;
      src += 8;
    }
  }
}

// The inflate hot loop; it is longer than our functions usually are, so
// that the whole decoder state stays in registers. It runs while no request
// can reach past the whole words of the input buffer (so the source is
// never read here and no bounds check per symbol is needed) and while a
// longest match fits in the window; the careful path does the rest.
// Returns true at the end of the block.
template <class Traits>
[[gnu::always_inline]] inline bool FastLoopBody(TAbDfInBitStream& reader,
                                                TAbDfOutputWindow& window,
                                                const FastHuffmanTable& literals,
                                                const FastHuffmanTable& distances) {
  TAbDfInBitStream::Cursor cursor = reader.TakeCursor();
  const uint8_t* in = cursor.in;
  uint64_t bitbuf = cursor.bitbuf;
  uint32_t bitsleft = cursor.bitsleft;
  const uint8_t* const in_end = reader.FastInputEnd();
  uint8_t* out = window.Out();
  uint8_t* const out_end = window.FastOutputEnd(Traits::kMaxMatch);
  const uint8_t* const out_start = window.Start();
  const uint32_t* const lit = literals.entries.data();
  const uint64_t lit_mask = literals.main_mask;
  const uint32_t lit_main = literals.main_bits;
  const uint32_t* const dist = distances.entries.data();
  const uint64_t dist_mask = distances.main_mask;
  const uint32_t dist_main = distances.main_bits;

  auto refill = [&] {
    uint64_t word;
    std::memcpy(&word, in, 8);
    bitbuf |= word << bitsleft;
    in += (63 - bitsleft) >> 3;
    bitsleft |= 56;
  };
  auto consume = [&](uint32_t n) {
    bitbuf >>= n;
    bitsleft -= n;
  };
  auto lookup_literal = [&] { return lit[bitbuf & lit_mask]; };
  auto save = [&] {
    reader.PutCursor({in, bitbuf, bitsleft});
    window.SetOut(out);
  };

  // The entry of the next symbol is looked up as soon as its bits are in
  // place, so the lookup overlaps the work on the current symbol. A refill
  // leaves the bits below bitsleft, and so the entry, unchanged.
  refill();
  uint32_t e = lookup_literal();
  while (in < in_end && out < out_end) {
    refill();
    if (e & kLiteral) {
      // Two literals per refill; 26 bits are still left for the next lookup.
      consume(CodeLength(e));
      *out++ = static_cast<uint8_t>(Value(e));
      e = lookup_literal();
      if (e & kLiteral) {
        consume(CodeLength(e));
        *out++ = static_cast<uint8_t>(Value(e));
        e = lookup_literal();
        continue;
      }
    }
    if (e & kSubtable) {
      e = lit[Value(e) + LowBits(bitbuf >> lit_main, ExtraBits(e))];
      if (e & kLiteral) {
        consume(CodeLength(e));
        *out++ = static_cast<uint8_t>(Value(e));
        e = lookup_literal();
        continue;
      }
    }
    if (e & kExceptional) {
      save();
      if (!IsEndOfBlock(e)) RaiseInflateCause(inflate_cause::kLengthSymbol);
      reader.PutCursor({in, bitbuf >> CodeLength(e), bitsleft - CodeLength(e)});
      return true;
    }
    // At least 41 bits are left: enough for Deflate64's 15 + 16.
    const uint32_t length_bits = CodeLength(e);
    const uint32_t length =
        Value(e) + static_cast<uint32_t>(LowBits(bitbuf >> length_bits, ExtraBits(e)));
    consume(length_bits + ExtraBits(e));
    refill();
    uint32_t d = dist[bitbuf & dist_mask];
    if (d & kSubtable) d = dist[Value(d) + LowBits(bitbuf >> dist_main, ExtraBits(d))];
    if (d & kExceptional) {
      save();
      RaiseInflateCause(Traits::kBadDistance);
    }
    const uint32_t distance_bits = CodeLength(d);
    const uint32_t distance =
        Value(d) + static_cast<uint32_t>(LowBits(bitbuf >> distance_bits, ExtraBits(d)));
    consume(distance_bits + ExtraBits(d));
    if (distance > static_cast<uint32_t>(out - out_start)) {
      save();
      RaiseInflateCause(inflate_cause::kDistanceTooFar);
    }
    e = lookup_literal();  // 27 bits or more are left
    CopyMatch(out, length, distance);
    out += length;
  }
  save();
  return false;
}

template <class Traits>
bool FastLoopGeneric(TAbDfInBitStream& reader, TAbDfOutputWindow& window,
                     const FastHuffmanTable& literals, const FastHuffmanTable& distances) {
  return FastLoopBody<Traits>(reader, window, literals, distances);
}

#if defined(__x86_64__)
// The same loop where the processor has BMI2: its shifts by a register
// count (shrx) are single instructions that leave the flags alone.
template <class Traits>
[[gnu::target("bmi2")]] bool FastLoopBmi2(TAbDfInBitStream& reader, TAbDfOutputWindow& window,
                                          const FastHuffmanTable& literals,
                                          const FastHuffmanTable& distances) {
  return FastLoopBody<Traits>(reader, window, literals, distances);
}
#endif

template <class Traits>
using FastLoopFunction = bool (*)(TAbDfInBitStream&, TAbDfOutputWindow&,
                                  const FastHuffmanTable&, const FastHuffmanTable&);

template <class Traits>
FastLoopFunction<Traits> ChooseFastLoop() {
#if defined(__x86_64__)
  if (__builtin_cpu_supports("bmi2")) return FastLoopBmi2<Traits>;
#endif
  return FastLoopGeneric<Traits>;
}

// One symbol (a literal, a match or the end of block) decoded with the
// reader's peek and discard, which read the source when a request reaches
// past the buffered words. Returns true at the end of the block.
template <class Traits>
bool CarefulSymbol(TAbDfInBitStream& reader, TAbDfOutputWindow& window,
                   const FastHuffmanTable& literals, const FastHuffmanTable& distances) {
  uint32_t bits = reader.PeekBits(literals.max_length + Traits::kLiteralPeekExtra);
  uint32_t e = literals.Lookup(bits);
  if (e & kExceptional) {
    if (!IsEndOfBlock(e)) RaiseInflateCause(inflate_cause::kLengthSymbol);
    reader.DiscardBits(static_cast<int32_t>(CodeLength(e)));
    return true;
  }
  if (e & kLiteral) {
    // The literal goes out before its bits are discarded: when it reaches
    // the output limit, decoding stops with the code not consumed.
    window.PutLiteral(static_cast<uint8_t>(Value(e)));
    reader.DiscardBits(static_cast<int32_t>(CodeLength(e)));
    return false;
  }
  const uint32_t length = Value(e) + (bits >> CodeLength(e) & ((1u << ExtraBits(e)) - 1));
  reader.DiscardBits(static_cast<int32_t>(CodeLength(e) + ExtraBits(e)));
  bits = reader.PeekBits(distances.max_length + kDistancePeekExtra);
  uint32_t d = distances.Lookup(bits);
  if (d & kExceptional) RaiseInflateCause(Traits::kBadDistance);
  const uint32_t distance = Value(d) + (bits >> CodeLength(d) & ((1u << ExtraBits(d)) - 1));
  reader.DiscardBits(static_cast<int32_t>(CodeLength(d) + ExtraBits(d)));
  window.PutMatch(static_cast<int32_t>(length), static_cast<int32_t>(distance));
  return false;
}

template <class Traits>
void DecodeDataWith(TAbDfInBitStream& reader, TAbDfOutputWindow& window,
                    const FastHuffmanTable& literals, const FastHuffmanTable& distances) {
  static const FastLoopFunction<Traits> fast_loop = ChooseFastLoop<Traits>();
  for (;;) {
    if (fast_loop(reader, window, literals, distances)) return;
    window.SlideIfFull();
    if (CarefulSymbol<Traits>(reader, window, literals, distances)) return;
  }
}
}  // namespace

void DecodeData(TAbDfInBitStream& reader, TAbDfOutputWindow& window,
                const FastHuffmanTable& literals, const FastHuffmanTable& distances,
                bool deflate64) {
  if (deflate64) {
    DecodeDataWith<Deflate64Traits>(reader, window, literals, distances);
  } else {
    DecodeDataWith<DeflateTraits>(reader, window, literals, distances);
  }
}

}  // namespace velmora
