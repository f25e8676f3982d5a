#include "archive/inflate/inflate.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "archive/base/exceptions.h"
#include "archive/crypt/decrypt_stream.h"
#include "archive/inflate/inflate_blocks.h"
#include "archive/inflate/inflate_tables.h"
#include "rtl/exceptions.h"
#include "rtl/format.h"

namespace velmora {

void RaiseInflateCause(const char* cause) { throw EAbInternalInflateError(cause); }

namespace {
constexpr const char* kUnit = "AbDfDec";
// Stored data moves through a transfer buffer of this size.
constexpr int32_t kStoredChunk = 16384;
}  // namespace

void InflateStoredBlock(TAbDfInBitStream& reader, TAbDfOutputWindow& window) {
  reader.AlignToByte();
  uint8_t header[4];
  reader.ReadBuffer(header, 4);
  const uint32_t length = header[0] | (header[1] << 8);
  const uint32_t not_length = header[2] | (header[3] << 8);
  if ((~length & 0xFFFF) != not_length) RaiseInflateCause(inflate_cause::kStoredLength);
  std::array<uint8_t, kStoredChunk> chunk;
  for (uint32_t left = length; left > 0;) {
    int32_t n = static_cast<int32_t>(std::min<uint32_t>(left, kStoredChunk));
    reader.ReadBuffer(chunk.data(), n);
    window.PutBytes(chunk.data(), n);
    left -= static_cast<uint32_t>(n);
  }
}

void InflateFixedBlock(TAbDfInBitStream& reader, TAbDfOutputWindow& window, bool deflate64) {
  DecodeData(reader, window, FixedFastLiteralTable(deflate64), FixedFastDistanceTable(deflate64),
             deflate64);
}

namespace {
// Applies the code-length symbol at the start of bits (its code and up to 7
// extra bits) to lengths[filled...]: sets used to the bits it takes, or
// returns the cause that refuses it, with nothing changed.
const char* TakeCodeLength(uint32_t bits, const TAbDfDecodeHuffmanTree& code_lengths,
                           int32_t* lengths, int32_t& filled, int32_t count, int32_t& used) {
  const int32_t lookup_bits = code_lengths.LookupBitLength();
  const uint32_t entry = code_lengths.Decode(bits & kBitMask[lookup_bits]);
  const uint32_t symbol = entry & 0xFFFF;
  const int32_t code_length = static_cast<int32_t>((entry >> 16) & 0xFF);
  if (symbol > 18) return inflate_cause::kCodeLengthSymbol;
  if (code_length == 0 || code_length > lookup_bits) return inflate_cause::kCodeLengthLength;
  if (symbol < 16) {
    lengths[filled++] = static_cast<int32_t>(symbol);
    used = code_length;
    return nullptr;
  }
  const uint32_t after_code = bits >> code_length;
  int32_t value = 0, extra = 0, repeat = 0;
  if (symbol == 16) {
    if (filled == 0) return inflate_cause::kRepeatWithoutPrevious;
    value = lengths[filled - 1];
    extra = 2;
    repeat = 3 + static_cast<int32_t>(after_code & 3);
  } else if (symbol == 17) {
    extra = 3;
    repeat = 3 + static_cast<int32_t>(after_code & 7);
  } else {
    extra = 7;
    repeat = 11 + static_cast<int32_t>(after_code & 127);
  }
  used = code_length + extra;
  // A repeat that runs past the count is cut there.
  repeat = std::min(repeat, count - filled);
  std::fill_n(lengths + filled, repeat, value);
  filled += repeat;
  return nullptr;
}
}  // namespace

void ReadLitDistCodeLengths(TAbDfInBitStream& reader, const TAbDfDecodeHuffmanTree& code_lengths,
                            int32_t* lengths, int32_t count) {
  std::fill_n(lengths, kMaxCodeLengths, 0);
  const int32_t lookup_bits = code_lengths.LookupBitLength();
  const uint32_t* const entries = code_lengths.Entries();
  const uint64_t lookup_mask = (uint64_t{1} << lookup_bits) - 1;
  int32_t filled = 0;
  int32_t used = 0;
  // While the read-ahead buffer holds the bits, from a local bit buffer as
  // the hot loop decodes (a refill gives 56 bits).
  TAbDfInBitStream::Cursor c = reader.TakeCursor();
  const uint8_t* const in_end = reader.FastInputEnd();
  while (filled < count && c.in < in_end) {
    uint64_t word;
    std::memcpy(&word, c.in, 8);
    c.bitbuf |= word << c.bitsleft;
    c.in += (63 - c.bitsleft) >> 3;
    c.bitsleft |= 56;
    // Plain lengths (symbols 0-15) are nearly every symbol of a header:
    // up to six of them here, whose codes take at most 7 bits each and
    // whose entries always hold a code length the lookup covers. That
    // leaves 14 bits for a repeat and its extra bits, or for a refusal,
    // decided as the careful path decides it.
    uint32_t entry;
    for (int32_t n = 1;; ++n) {
      entry = entries[c.bitbuf & lookup_mask];
      const uint32_t symbol = entry & 0xFFFF;
      if (symbol >= 16) break;
      lengths[filled++] = static_cast<int32_t>(symbol);
      const uint32_t code_length = (entry >> 16) & 0xFF;
      c.bitbuf >>= code_length;
      c.bitsleft -= code_length;
      if (n == 6 || filled == count) break;
    }
    if ((entry & 0xFFFF) < 16) continue;
    const char* cause =
        TakeCodeLength(static_cast<uint32_t>(c.bitbuf), code_lengths, lengths, filled, count, used);
    if (cause != nullptr) {
      reader.PutCursor(c);
      RaiseInflateCause(cause);
    }
    c.bitbuf >>= used;
    c.bitsleft -= static_cast<uint32_t>(used);
  }
  reader.PutCursor(c);
  while (filled < count) {
    // The code and its largest count of extra bits (7, for symbol 18).
    const uint32_t bits = reader.PeekBits(lookup_bits + 7);
    const char* cause = TakeCodeLength(bits, code_lengths, lengths, filled, count, used);
    if (cause != nullptr) RaiseInflateCause(cause);
    reader.DiscardBits(used);
  }
}

void InflateDynamicBlock(TAbDfInBitStream& reader, TAbDfOutputWindow& window, bool deflate64) {
  DynamicTables tables;
  InflateDynamicBlock(reader, window, deflate64, tables);
}

void InflateDynamicBlock(TAbDfInBitStream& reader, TAbDfOutputWindow& window, bool deflate64,
                         DynamicTables& tables) {
  const int32_t literal_count = static_cast<int32_t>(reader.ReadBits(5)) + 257;
  const int32_t distance_count = static_cast<int32_t>(reader.ReadBits(5)) + 1;
  const int32_t code_length_count = static_cast<int32_t>(reader.ReadBits(4)) + 4;
  if (literal_count > 286) RaiseInflateCause(inflate_cause::kLiteralCount);
  if (!deflate64 && distance_count > 30) RaiseInflateCause(inflate_cause::kDistanceCount);

  std::array<int32_t, kMaxCodeLengths> lengths{};
  for (int32_t i = 0; i < code_length_count; ++i)
    lengths[kCodeLengthOrder[i]] = static_cast<int32_t>(reader.ReadBits(3));
  TAbDfDecodeHuffmanTree code_lengths(19, huDecoding, 7);
  code_lengths.Build(lengths.data(), 0, 19, 19, nullptr);
  ReadLitDistCodeLengths(reader, code_lengths, lengths.data(), literal_count + distance_count);

  FastHuffmanTable& literals = tables.literals;
  FastHuffmanTable& distances = tables.distances;
  if (!BuildFastTable(literals, lengths.data(), literal_count, FastTableKind::kLiteralLength,
                      deflate64) ||
      !BuildFastTable(distances, lengths.data() + literal_count, distance_count,
                      FastTableKind::kDistance, deflate64))
    RaiseInflateCause(inflate_cause::kOverSubscribed);
  DecodeData(reader, window, literals, distances, deflate64);
}

namespace {
void DecodeBlocks(TAbDfInBitStream& reader, TAbDfOutputWindow& window, bool deflate64) {
  DynamicTables tables;
  for (;;) {
    const uint32_t last = reader.ReadBit();
    switch (reader.ReadBits(2)) {
      case 0: InflateStoredBlock(reader, window); break;
      case 1: InflateFixedBlock(reader, window, deflate64); break;
      case 2: InflateDynamicBlock(reader, window, deflate64, tables); break;
      default: RaiseInflateCause(inflate_cause::kBlockType);
    }
    if (last) return;
  }
}

enum class Outcome { kDecoded, kLimitReached, kAborted, kFailed };

struct Decoding {
  uint32_t checksum = 0;
  Outcome outcome = Outcome::kDecoded;
  std::string cause;
};

// Decodes from input; the output so far is passed on and the source moved
// back to just after the last byte used on every path, also after an
// error (whose own error then is the one reported).
Decoding DecodeStream(TStream* input, TStream* dest, const TAbDeflateHelper& options,
                      TAbLogger* log, TAbDeflateHelper* helper) {
  const bool test_only = (options.Options & dfoTestOnly) != 0;
  const bool deflate64 = (options.Options & dfoDeflate64) != 0;
  TAbDfInBitStream reader(input, options.SourceSize, options.OnProgressPercent);
  TAbDfOutputWindow window(dest, log, test_only, options.OutputLimit,
                           (options.Options & dfoAdler32) == 0, deflate64,
                           options.KnownUnpackedSize);
  Decoding d;
  try {
    DecodeBlocks(reader, window, deflate64);
    d.checksum = window.ChecksumValue();
    if (test_only && helper) helper->UnpackedSize = static_cast<int32_t>(window.OutputPosition());
  } catch (const EAbPartSizedInflate&) {
    d.outcome = Outcome::kLimitReached;
  } catch (const EAbAbortProgress&) {
    d.outcome = Outcome::kAborted;
  } catch (const EAbInternalInflateError& e) {
    d.outcome = Outcome::kFailed;
    d.cause = e.Message();
    if (log) log->WriteLine(Format("Internal exception raised: %s", {d.cause}));
  }
  if (d.outcome == Outcome::kFailed || d.outcome == Outcome::kAborted) {
    try {
      window.PassOn();
      reader.Release();
    } catch (...) {
    }
  } else {
    window.PassOn();
    reader.Release();
  }
  return d;
}
}  // namespace

bool InflatedSizeIsPossible(int64_t packed_size, int64_t unpacked_size, bool deflate64) {
  // The densest stream repeats its longest match with one-bit codes for
  // the length and the distance: 258 bytes per 2 bits in Deflate, 65,538
  // per 18 (16 extra length bits) in Deflate64; one longest match more
  // covers a block header and a partial last byte.
  const int64_t per_byte = deflate64 ? 65538 * 8 / 18 + 1 : 258 * 8 / 2;
  const int64_t slack = deflate64 ? kDeflate64MaxMatch : kDeflateMaxMatch;
  if (packed_size < 0 || unpacked_size < 0) return false;
  if (packed_size > (INT64_MAX - slack) / per_byte) return true;
  return unpacked_size <= packed_size * per_byte + slack;
}

uint32_t Inflate(TStream* source, TStream* dest, TAbDeflateHelper* helper) {
  Assert(source != nullptr, "Deflate: aSource stream cannot be nil", kUnit, 687);
  Assert(dest != nullptr, "Deflate: aDest stream cannot be nil", kUnit, 688);
  TAbDeflateHelper options;
  if (helper) options.Assign(*helper);
  const int64_t source_start = source->Position();
  const int64_t dest_start = dest->Position();
  if (!options.OnProgressPercent) {
    options.SourceSize = 0;
  } else if (options.SourceSize == -1) {
    options.SourceSize = source->Size();
  }
  std::unique_ptr<TAbLogger> log;
  if (!options.LogFileName.empty()) {
    log = std::make_unique<TAbLogger>(options.LogFileName);
    log->WriteLine("INFLATING STREAM...");
    log->WriteLine("Need to recompile the app with UseLogging turned on");
  }
  std::unique_ptr<TAbDfDecryptStream> decrypt;
  if (!options.Passphrase.empty()) {
    decrypt = std::make_unique<TAbDfDecryptStream>(source, options.Passphrase,
                                                   options.PasswordCheckValue);
    // A failed check has moved the source back to the header, so the
    // caller can try another passphrase.
    if (!decrypt->VerifyHeader()) throw EAbInflatePasswordError();
  }
  Decoding d = DecodeStream(decrypt ? decrypt.get() : source, dest, options, log.get(), helper);
  decrypt.reset();
  log.reset();
  if (d.outcome == Outcome::kFailed) throw EAbInflateError(d.cause);
  // An abort is the user's, never a checksum of 0 to compare.
  if (d.outcome == Outcome::kAborted) throw EAbUserAbort();
  if (helper) {
    if ((options.Options & dfoTestOnly) == 0)
      helper->UnpackedSize = static_cast<int32_t>(dest->Position() - dest_start);
    helper->PackedSize = static_cast<int32_t>(source->Position() - source_start);
  }
  return d.checksum;
}

}  // namespace velmora
