// Method 1, shrink: dynamic LZW with 9- to 13-bit codes, code-size
// increase (256, 1) and partial clearing of leaf codes (256, 2).
#pragma once

namespace velmora {

class TAbUnzipHelper;

// Expands until the compressed data ends; the uncompressed size is not
// consulted. Raises EAbLegacyDataError for codes wider than 13 bits and for
// strings that lead back to themselves.
void Unshrink(TAbUnzipHelper& helper);

}  // namespace velmora
