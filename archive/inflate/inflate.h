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
// Raises EAbInflateError for corrupt data, EAbInflatePasswordError when the
// passphrase does not verify (the source is then back at the header), and
// EAbUserAbort when the progress handler asked to stop (by raising
// EAbAbortProgress). The destination keeps the output produced up to any
// error or stop.
uint32_t Inflate(TStream* source, TStream* dest, TAbDeflateHelper* helper);

}  // namespace velmora
