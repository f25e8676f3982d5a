// Literal and match decoding: the decoder's hot loop and its careful tail.
#include <cstring>

#include "archive/checksum/crc32_fold.h"
#include "archive/inflate/inflate_blocks.h"
#include "archive/inflate/inflate_errors.h"

namespace velmora {

namespace {
using namespace fast_entry;

// Deflate and Deflate64 differ in a few constants only.
struct DeflateTraits {
  // Bits peeked beyond the code: the largest count of length extra bits.
  static constexpr int32_t kLiteralPeekExtra = 5;
  static constexpr bool kDistanceBeforeRefill = true;
  static constexpr const char* kBadDistance = inflate_cause::kDistanceSymbol;
};
struct Deflate64Traits {
  static constexpr int32_t kLiteralPeekExtra = 16;
  static constexpr bool kDistanceBeforeRefill = false;
  static constexpr const char* kBadDistance = inflate_cause::kDistance64Symbol;
};
// Largest count of distance extra bits (Deflate64's symbols 30 and 31).
constexpr int32_t kDistancePeekExtra = 14;

inline void Copy8(uint8_t* dst, const uint8_t* src) {
  uint64_t chunk;
  std::memcpy(&chunk, src, 8);
  std::memcpy(dst, &chunk, 8);
}

// One 16-byte move: a single vector load and store on every x86-64.
inline void Copy16(uint8_t* dst, const uint8_t* src) {
  uint8_t chunk[16];
  std::memcpy(chunk, src, 16);
  std::memcpy(dst, chunk, 16);
}

// How far a word of a repeated pattern of period p (2 ... 7) advances: the
// most whole periods that fit in 8 bytes.
constexpr uint8_t kPatternStep[8] = {0, 8, 8, 6, 8, 5, 6, 7};

// Copies a match; may write up to 31 bytes past its end, which the window
// leaves room for. distance is at least 1 and reaches no further back than
// the window start. Each load lies wholly behind the bytes it is copied to
// (or, for short periods, only its first period is used), so overlapping
// matches repeat their period correctly.
inline void CopyMatch(uint8_t* out, uint32_t length, uint32_t distance) {
  const uint8_t* src = out - distance;
  uint8_t* const end = out + length;
  if (distance >= 16) {
    // Most matches are short: two vectors cover them without a loop.
    Copy16(out, src);
    Copy16(out + 16, src + 16);
    while (length > 32) {
      out += 32;
      src += 32;
      Copy16(out, src);
      Copy16(out + 16, src + 16);
      length -= 32;
    }
  } else if (distance >= 8) {
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
    const uint64_t pattern = 0x0101010101010101ull * *src;
    do {
      std::memcpy(out, &pattern, 8);
      std::memcpy(out + 8, &pattern, 8);
      out += 16;
    } while (out < end);
  } else {
    // A short period: its bytes replicated into a word, stored at whole
    // periods apart.
    uint64_t pattern;
    std::memcpy(&pattern, src, 8);
    pattern &= ~uint64_t{0} >> (64 - 8 * distance);
    pattern |= pattern << (8 * distance);
    if (distance < 4) pattern |= pattern << (16 * distance);
    const uint32_t step = kPatternStep[distance];
    do {
      std::memcpy(out, &pattern, 8);
      out += step;
    } while (out < end);
  }
}

// The loop's CRC-32 lane where the window takes the whole CRC itself.
struct NoLoopCrc {
  NoLoopCrc(TAbDfOutputWindow&, const uint8_t*) {}
  void StepIfDue() {}
  void Save(TAbDfOutputWindow&) {}
};

#if defined(__x86_64__)
// The loop's CRC-32 lane where it folds (crc32_fold.h): one 64-byte step
// per match (a match and the literals before it make fewer bytes than that
// on most data) over the output earlier runs produced, up to the last whole
// step behind where this run starts. The branch goes one way until that
// output is taken and then the other, so it costs one misprediction a run;
// output made faster than that is left to the window.
struct FoldingLoopCrc {
  [[gnu::target(VELMORA_CRC32_FOLD_TARGET)]] FoldingLoopCrc(TAbDfOutputWindow& window,
                                                             const uint8_t* out) {
    TAbDfOutputWindow::CrcLane& lane = window.Lane();
    next = lane.next;
    end = next + ((out - next) & -static_cast<ptrdiff_t>(kCrc32FoldStep));
    if (lane.started) {
      acc = {crc32_fold::Load(lane.accumulator), crc32_fold::Load(lane.accumulator + 32)};
    } else if (next != end) {
      acc = crc32_fold::Start(lane.running, next);
      next += kCrc32FoldStep;
      lane.started = true;
    } else {
      acc = {_mm256_setzero_si256(), _mm256_setzero_si256()};  // stored, ignored
    }
  }
  [[gnu::target(VELMORA_CRC32_FOLD_TARGET)]] void StepIfDue() {
    if (next != end) {
      acc = crc32_fold::Step(acc, next);
      next += kCrc32FoldStep;
    }
  }
  // Inlined into every exit of the loop, so that the lane's state never
  // leaves registers inside it; a plain copy needs no target of its own.
  [[gnu::always_inline]] void Save(TAbDfOutputWindow& window) {
    TAbDfOutputWindow::CrcLane& lane = window.Lane();
    static_assert(sizeof acc == sizeof lane.accumulator);
    std::memcpy(lane.accumulator, &acc, sizeof acc);
    lane.next = next;
  }
  crc32_fold::Accumulator acc;
  const uint8_t* next;
  const uint8_t* end;
};
#endif

// The inflate hot loop; it is longer than our functions usually are, so
// that the whole decoder state stays in registers. It runs while no request
// can reach past the whole words of the input buffer (so the source is
// never read here and no bounds check per symbol is needed) and while a
// longest match fits in the window; the careful path does the rest.
// Returns true at the end of the block.
//
// Where the processor has BMI2 (kBmi2), the extra bits' value is cut from
// the saved bit buffer with one BZHI, and the index after a literal with
// one BEXTR (BMI1).
//
// The bit count lives in the low byte of bitsleft: consuming an entry
// subtracts the whole entry, which leaves garbage above that byte but the
// byte right, as no count goes below 0.
template <class Traits, bool kBmi2, class LoopCrc>
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
  uint8_t* const out_end = window.FastOutputEnd();
  const uint8_t* const out_start = window.Start();
  const uint32_t* const lit = literals.entries.data();
  const uint32_t* const dist = distances.entries.data();
  constexpr uint64_t kLitMask = (uint64_t{1} << kLiteralTableBits) - 1;
  constexpr uint64_t kDistMask = (uint64_t{1} << kDistanceTableBits) - 1;

  auto refill = [&] {
    uint64_t word;
    std::memcpy(&word, in, 8);
    bitbuf |= word << static_cast<uint8_t>(bitsleft);
    in += (~bitsleft >> 3) & 7;
    bitsleft |= 56;
  };
  auto consume = [&](uint32_t entry) {
    bitbuf >>= static_cast<uint8_t>(entry);
    bitsleft -= entry;
  };
  auto lookup_literal = [&] { return lit[bitbuf & kLitMask]; };
  // Consumes the literal entry e, stores its byte and looks up the next
  // entry. With BMI2 (and so BMI1) the next index is cut from the bit
  // buffer as it was before the shift, by the control in the entry's low
  // half: the lookup waits on one operation after the entry's load, not two.
  uint32_t e;
  // (It calls no other lambda: GCC then keeps the state in registers.)
  auto take_literal = [&] {
    const uint64_t before = bitbuf;
    bitbuf >>= static_cast<uint8_t>(e);
    bitsleft -= e;
    *out++ = LiteralOf(e);
    uint64_t index;
    if constexpr (kBmi2) {
      asm("bextr %2, %1, %0" : "=r"(index) : "r"(before), "r"(uint64_t{e}));
    } else {
      index = bitbuf & kLitMask;
    }
    e = lit[index];
  };
  // The extra bits of a length or distance entry: the saved bit buffer cut
  // to the entry's count, then shifted down by its code length.
  auto extra_of = [](uint64_t saved, uint32_t entry, uint32_t code_length) {
    uint64_t bits;
    if constexpr (kBmi2) {
      asm("bzhi %2, %1, %0" : "=r"(bits) : "r"(saved), "r"(uint64_t{entry}));
    } else {
      bits = saved & ((uint64_t{1} << TotalBits(entry)) - 1);
    }
    return static_cast<uint32_t>(bits >> code_length);
  };
  // No flags in either: the code length is all of its bits' field.
  auto length_of = [&](uint64_t saved, uint32_t entry) {
    return LengthBase(entry) + extra_of(saved, entry, static_cast<uint8_t>(entry >> kLengthCodeShift));
  };
  auto distance_of = [&](uint64_t saved, uint32_t entry) {
    return Value(entry) + extra_of(saved, entry, static_cast<uint8_t>(entry >> 8));
  };
  auto subtable = [](const uint32_t* table, uint32_t link, uint64_t bits, uint32_t main_bits) {
    return table[Value(link) + ((bits >> main_bits) & ((uint64_t{1} << SubtableBits(link)) - 1))];
  };
  LoopCrc crc(window, out);
  auto save = [&] {
    reader.PutCursor({in, bitbuf, bitsleft & 0xFF});
    window.SetOut(out);
    crc.Save(window);
  };

  // The entry of the next symbol is looked up as soon as its bits are in
  // place, so the lookup overlaps the work on the current symbol. A refill
  // leaves the bits below bitsleft, and so the entry, unchanged.
  refill();
  e = lookup_literal();
  while (in < in_end && out < out_end) {
    refill();
    if (e & kLiteral) {
      // Up to three literals per refill: main-table codes take at most 11
      // bits each, so 56 - 33 bits are still left for the next lookup.
      take_literal();
      if (e & kLiteral) {
        take_literal();
        if (e & kLiteral) {
          take_literal();
          continue;
        }
      }
    }
    // At least 34 bits are left here. A subtable link is exceptional too,
    // so a plain length takes one test.
    if (e & kExceptional) [[unlikely]] {
      if (e & kSubtable) {
        e = subtable(lit, e, bitbuf, kLiteralTableBits);
        if (e & kLiteral) {
          take_literal();
          continue;
        }
      }
      if (e & kExceptional) {
        save();
        if (!IsEndOfBlock(e)) RaiseInflateCause(inflate_cause::kLengthSymbol);
        reader.PutCursor({in, bitbuf >> TotalBits(e), (bitsleft & 0xFF) - TotalBits(e)});
        return true;
      }
    }
    // Enough for Deflate64's 15 + 16.
    uint64_t saved = bitbuf;
    consume(e);
    const uint32_t length = length_of(saved, e);
    // A Deflate length takes at most 15 + 5 bits, which leaves the distance
    // table's 8 bits in place: its entry is looked up while the refill runs,
    // with BMI2 from the index the length entry's control cuts.
    uint32_t d;
    if constexpr (Traits::kDistanceBeforeRefill) {
      uint64_t index;
      if constexpr (kBmi2) {
        asm("bextr %2, %1, %0" : "=r"(index) : "r"(saved), "r"(uint64_t{e}));
      } else {
        index = bitbuf & kDistMask;
      }
      d = dist[index];
      refill();
    } else {
      refill();
      d = dist[bitbuf & kDistMask];
    }
    if (d & kExceptional) [[unlikely]] {
      if (d & kSubtable) d = subtable(dist, d, bitbuf, kDistanceTableBits);
      if (d & kExceptional) {
        save();
        RaiseInflateCause(Traits::kBadDistance);
      }
    }
    saved = bitbuf;
    consume(d);
    const uint32_t distance = distance_of(saved, d);
    if (distance > static_cast<uint32_t>(out - out_start)) [[unlikely]] {
      save();
      RaiseInflateCause(inflate_cause::kDistanceTooFar);
    }
    e = lookup_literal();  // 27 bits or more are left
    crc.StepIfDue();
    CopyMatch(out, length, distance);
    out += length;
  }
  save();
  return false;
}

template <class Traits>
bool FastLoopGeneric(TAbDfInBitStream& reader, TAbDfOutputWindow& window,
                     const FastHuffmanTable& literals, const FastHuffmanTable& distances) {
  return FastLoopBody<Traits, false, NoLoopCrc>(reader, window, literals, distances);
}

#if defined(__x86_64__)
// The same loop where the processor has BMI2: its shifts by a register
// count (shrx) are single instructions that leave the flags alone.
template <class Traits>
[[gnu::target("bmi2")]] bool FastLoopBmi2(TAbDfInBitStream& reader, TAbDfOutputWindow& window,
                                          const FastHuffmanTable& literals,
                                          const FastHuffmanTable& distances) {
  return FastLoopBody<Traits, true, NoLoopCrc>(reader, window, literals, distances);
}

// The same, folding the CRC-32 as it goes; only for windows that take one
// and let the loop fold it.
template <class Traits>
[[gnu::target("bmi2," VELMORA_CRC32_FOLD_TARGET)]] bool FastLoopFolding(
    TAbDfInBitStream& reader, TAbDfOutputWindow& window, const FastHuffmanTable& literals,
    const FastHuffmanTable& distances) {
  return FastLoopBody<Traits, true, FoldingLoopCrc>(reader, window, literals, distances);
}
#endif

template <class Traits>
using FastLoopFunction = bool (*)(TAbDfInBitStream&, TAbDfOutputWindow&,
                                  const FastHuffmanTable&, const FastHuffmanTable&);

// The loop for this processor; folding is the window's choice too.
template <class Traits>
FastLoopFunction<Traits> ChooseFastLoop(bool folding) {
#if defined(__x86_64__)
  const bool bmi = __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
  if (bmi && folding) return FastLoopFolding<Traits>;
  if (bmi) return FastLoopBmi2<Traits>;
#endif
  (void)folding;
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
    reader.DiscardBits(static_cast<int32_t>(TotalBits(e)));
    return true;
  }
  if (e & kLiteral) {
    // The literal goes out before its bits are discarded: when it reaches
    // the output limit, decoding stops with the code not consumed.
    window.PutLiteral(LiteralOf(e));
    reader.DiscardBits(static_cast<int32_t>(TotalBits(e)));
    return false;
  }
  const uint32_t length = LengthValue(bits, e);
  reader.DiscardBits(static_cast<int32_t>(TotalBits(e)));
  bits = reader.PeekBits(distances.max_length + kDistancePeekExtra);
  uint32_t d = distances.Lookup(bits);
  if (d & kExceptional) RaiseInflateCause(Traits::kBadDistance);
  const uint32_t distance = DistanceValue(bits, d);
  reader.DiscardBits(static_cast<int32_t>(TotalBits(d)));
  window.PutMatch(static_cast<int32_t>(length), static_cast<int32_t>(distance));
  return false;
}

template <class Traits>
void DecodeDataWith(TAbDfInBitStream& reader, TAbDfOutputWindow& window,
                    const FastHuffmanTable& literals, const FastHuffmanTable& distances) {
  static const FastLoopFunction<Traits> plain_loop = ChooseFastLoop<Traits>(false);
  static const FastLoopFunction<Traits> folding_loop = ChooseFastLoop<Traits>(true);
  const FastLoopFunction<Traits> fast_loop = window.LoopCrc() ? folding_loop : plain_loop;
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
