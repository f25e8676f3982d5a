// Method 6, implode: a 4 KB or 8 KB sliding dictionary and two or three
// Shannon-Fano trees (literals when there are three, lengths, distances).
#pragma once

#include <cstdint>
#include <vector>

namespace velmora {

class TAbUnzipHelper;

// One Shannon-Fano tree, ready for decoding: a table over the next
// max_bits bits of input. Each slot holds the decoded value in its low
// byte and the number of bits the code takes above it. The slots say what
// a bit-by-bit walk of the sorted entries would say, including for trees
// whose codes overlap or leave gaps (those decode as 0).
struct TAbShannonFanoTree {
  int32_t max_bits = 0;
  std::vector<uint16_t> table;
};

// Reads a tree of `entry_count` entries (256 or 64) from the compressed
// data. A tree whose groups define more entries than it holds raises
// EAbLegacyDataError.
void ReadShannonFanoTree(TAbUnzipHelper& helper, int32_t entry_count, TAbShannonFanoTree& tree);

// Makes the decoding table from the bit lengths of the values 0 to
// lengths.size() - 1 (0 for a value the stream did not define).
void BuildShannonFanoTree(const std::vector<uint8_t>& lengths, TAbShannonFanoTree& tree);

// Decodes one value with the tree.
int32_t DecodeShannonFano(TAbUnzipHelper& helper, const TAbShannonFanoTree& tree);

void Explode(TAbUnzipHelper& helper, bool dictionary_8k, bool three_trees);

}  // namespace velmora
