// The item extraction driver: produces one ZIP item's data into a file,
// into a caller's stream, or into nothing (a test). It reads and checks the
// item's local header, sets up decryption, chooses the decompressor by the
// method, checks the CRC-32, and for a file restores date, time and
// attributes. The unzipper points the archive's three callbacks here.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/stream.h"

namespace velmora {

class TAbArchive;
class TAbArchiveItem;
class TAbZipArchive;
class TAbZipItem;

// Through a file without a name in the target's own folder, named only when
// complete (zip_extract_file.cpp): a failed item never leaves a half-written
// target, never touches a file it did not replace, and leaves no temporary
// file behind, even when the process is killed.
void UnzipItemToFile(TAbZipArchive& Archive, TAbZipItem& Item, const std::string& FileName);
// Writes the item's data to Stream at its position.
void UnzipItemToStream(TAbZipArchive& Archive, TAbZipItem& Item, TStream* Stream);
// Compares the local header with the central directory, then decompresses
// into a TAbBitBucketStream and checks the CRC-32.
void TestZipItem(TAbZipArchive& Archive, TAbZipItem& Item);

// Gets a traditionally encrypted item's password as extracting it would
// (Password, else OnNeedPassword; PasswordRetries more after a wrong one)
// and checks it against the item's encryption header, reading none of its
// data: for a caller that must know before anything else is decided about
// the item. Raises what extracting would (EAbZipInvalidPassword,
// EAbUserAbort, or why the item cannot be read); does nothing for an item
// not so encrypted.
void CheckItemPassword(TAbZipArchive& Archive, const TAbZipItem& Item);

// A folder entry: its name ends in "/" (or "\"), or it carries the
// directory attribute and no data, as MS-DOS archivers store folders.
bool IsFolderItem(const TAbZipItem& Item);

// The three decompression paths; each returns the CRC-32 of what it wrote.
uint32_t CopyStoredData(TAbZipArchive& Archive, TAbZipItem& Item, TStream* Stream,
                        uint32_t CheckValue);
uint32_t InflateItemData(TAbZipArchive& Archive, TAbZipItem& Item, TStream* Stream,
                         uint32_t CheckValue);
uint32_t ExpandLegacyData(TAbZipArchive& Archive, TAbZipItem& Item, TStream* Stream,
                          uint32_t CheckValue);

// The password questions. Both return Abort: true when the need-password
// handler answered with an empty password.
bool RequestPassword(TAbZipArchive& Archive);
// Asks when Password is empty (adding 1 to Count); raises
// EAbZipInvalidPassword when it is still empty.
bool EnsurePassword(TAbZipArchive& Archive, int& Count);

}  // namespace velmora
