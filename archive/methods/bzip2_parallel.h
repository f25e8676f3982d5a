// bzip2 blocks decoded on several threads. The blocks of a stream are
// independent, so each stretch from one block magic to the next is decoded
// as a stream of its own (see bzip2_blocks.h) by a pool of workers, a few
// blocks ahead, and the calling thread passes the blocks' output on in
// order.
#pragma once

#include <cstdint>
#include <span>

#include "archive/methods/method_io.h"

namespace velmora {

// Decodes packed, an item's whole packed data, when it is the ordinary
// case: one stream of at least two blocks, each decoding alone and ending
// exactly where the next magic starts, the combined CRC right, nothing
// after the stream. Returns true then, everything passed on to out.
//
// Returns false at the first thing that is not so (a block that does not
// decode, a false magic inside a block's data, a second stream, bytes after
// the end, a wrong combined CRC, a stream of one block): out has then been
// given a beginning of what the sequential decoder makes of packed
// (out.Added() bytes, possibly none), and the sequential decoder, the one
// authority on everything unusual, goes on from there. Errors of the
// output itself (data past the declared size, an abort) are raised as
// out.Add raises them.
bool DecodeBzip2Blocks(std::span<const uint8_t> packed, int threads, TAbChunkedOutput& out);

}  // namespace velmora
