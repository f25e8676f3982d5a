// Hostile archives for the tests that try vunzip as an attacker would: each
// maker builds one kind of trap with the test ZIP writer and returns the
// archive's bytes. Nothing here is a valid archive by accident; each says
// which field lies.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/zip_writer.h"

namespace velmora::testing {

// Sets an item's uncompressed size in its local and central headers.
void SetDeclaredSize(ZipImage& zip, size_t item, uint32_t size);
// Sets an item's method in both headers (the data stays as written).
void SetMethod(ZipImage& zip, size_t item, uint16_t method);

// One item `name` whose Deflate data yields `actual` zero bytes while its
// entries declare `declared`; the CRC is that of all it yields, so only the
// size gives it away.
std::vector<uint8_t> MakeOversizedDeflateItem(const std::string& name, size_t actual,
                                              uint32_t declared);
// A stored item "claims" holding `held` bytes that declares `declared`,
// followed by a stored item "next" of `next_size` bytes.
std::vector<uint8_t> MakeStoredItemClaimingMore(size_t held, uint32_t declared, size_t next_size);

// Legacy methods the full-disk cases run through: 1 shrink, 3 reduce
// (factor 2), 6 implode (8 KB dictionary, three trees).
std::vector<uint8_t> MakeLegacyItem(uint16_t method, const std::string& name,
                                    const std::vector<uint8_t>& data);
// `size` bytes that every method packs to a little over half: random
// letters from a 16-letter alphabet.
std::vector<uint8_t> HalfCompressible(size_t size, uint32_t seed = 1);

// `count` central entries, all pointing at the one local header of an item
// of `item_size` zero bytes (deflated): the overlapping-entries bomb.
std::vector<uint8_t> MakeOverlappingEntries(int count, size_t item_size);

// End records that describe no directory that can be: 65,535 entries in a
// directory of 0 bytes, and a directory whose offset is the end record's own.
std::vector<uint8_t> MakeEntryCountThatCannotFit();
std::vector<uint8_t> MakeDirectoryAtTheEndRecord();

}  // namespace velmora::testing
