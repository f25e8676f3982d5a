// Inflate: decodes one Deflate (RFC 1951) or Deflate64 stream from a source
// stream into a destination stream and returns the CRC-32 (or Adler-32) of
// what it produced.
#pragma once

#include <cstdint>

#include "archive/inflate/deflate_helper.h"
#include "archive/inflate/inflate_errors.h"
#include "rtl/stream.h"

namespace velmora {

// source stands at the compressed data (an encrypted item: at its 12-byte
// encryption header); afterwards it stands just after the last byte used,
// however far the decoder read ahead. helper may be null; only its
// PackedSize and UnpackedSize are written. Returns 0 when the output limit
// stopped decoding early.
//
// With helper->KnownUnpackedSize set and a destination that lends that
// much memory (TStream::DirectWriteBlock), the output is decoded straight
// into it; should the data run on past that size, the rest is written to
// the destination as usual. A test-only decoding counts its output instead
// of writing it, except what runs past a known size: that is written to
// the destination, so one that holds the output to the size refuses it.
//
// Raises EAbInflateError for corrupt data, EAbInflatePasswordError when the
// passphrase does not verify (the source is then back at the header), and
// EAbUserAbort when the progress handler asked to stop (by raising
// EAbAbortProgress). The destination keeps the output produced up to any
// error or stop.
uint32_t Inflate(TStream* source, TStream* dest, TAbDeflateHelper* helper);

// Whether packed_size bytes of Deflate (or Deflate64) data can hold an
// unpacked_size the format can reach at all: a declared size beyond that
// is no size to set memory aside for.
bool InflatedSizeIsPossible(int64_t packed_size, int64_t unpacked_size, bool deflate64);

}  // namespace velmora
