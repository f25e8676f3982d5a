// The block decoders behind Inflate. Internal to archive/inflate; visible
// for the tests of the decoder's pieces.
#pragma once

#include <cstdint>

#include "archive/inflate/bit_reader.h"
#include "archive/inflate/fast_huffman.h"
#include "archive/inflate/huffman_table.h"
#include "archive/inflate/output_window.h"

namespace velmora {

// Code lengths of a dynamic block: at most 286 + 32.
constexpr int32_t kMaxCodeLengths = 318;

void InflateStoredBlock(TAbDfInBitStream& reader, TAbDfOutputWindow& window);
void InflateFixedBlock(TAbDfInBitStream& reader, TAbDfOutputWindow& window, bool deflate64);
void InflateDynamicBlock(TAbDfInBitStream& reader, TAbDfOutputWindow& window, bool deflate64);
// The same, building into tables owned by the decoding, so that their
// memory is reused from block to block.
struct DynamicTables {
  FastHuffmanTable literals, distances;
};
void InflateDynamicBlock(TAbDfInBitStream& reader, TAbDfOutputWindow& window, bool deflate64,
                         DynamicTables& tables);
void ReadLitDistCodeLengths(TAbDfInBitStream& reader, const TAbDfDecodeHuffmanTree& code_lengths,
                            int32_t* lengths, int32_t count);
// Decodes literals and matches up to and including the end-of-block code.
void DecodeData(TAbDfInBitStream& reader, TAbDfOutputWindow& window,
                const FastHuffmanTable& literals, const FastHuffmanTable& distances,
                bool deflate64);

}  // namespace velmora
