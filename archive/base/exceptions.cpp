#include "archive/base/exceptions.h"

#include <array>
#include <string_view>

#include "rtl/format.h"

namespace velmora {

namespace {

struct MessagePair {
  int32_t code;
  std::string_view text;
};

// The engine's string resources, by code. Texts are copied exactly, blanks
// and placeholders included.
constexpr MessagePair kMessages[] = {
    {1, "Cannot extract file - newer version required"},
    {2, "Cannot extract file - unsupported compression method"},
    {3, "Cannot extract file - no extraction support provided"},
    {4, "Cannot extract file - invalid password"},
    {5, "Cannot insert file - no insertion support provided"},
    {6, "Invalid Reduce Factor"},
    {7, "Cannot insert file - duplicates stored name"},
    {8, "Cannot insert file - unsupported compression method"},
    {9, "Process aborted by user"},
    {10, "Archive is busy - cannot process new requests"},
    {11, "Insert floppy"},
    {12, "Insert the last disk in the spanned disk set"},
    {13, "Spanned archives must be opened as file streams"},
    {14, "Insert disk number %d of the spanned disk set"},
    {15, "Cannot update an existing spanned disk set"},
    {16, "Cannot make a self-extracting spanned disk set"},
    {17, "Insert a blank floppy disk"},
    {18, "Stream write error"},
    {19, "Directory does not exist"},
    {20, "Cannot inflate block"},
    {21, "Invalid Stream"},
    {22, "Error truncating Zip File"},
    {23, "Failed CRC Check"},
    {24, "Stub must be an executable"},
    {25, "File not found"},
    {26, "Invalid Local File Header entry"},
    {27, "Archive does not exist - Filename is blank"},
    {28, "Invalid file - not a PKZip file"},
    {29, "Error reading archive"},
    {30, "Invalid archive item index"},
    {31, "Invalid archive size threshold"},
    {32, "Specify spanned image file # "},
    {33, "Specify the last file name in the spanned image set"},
    {34, "Image file name"},
    {35, "Unhandled Archive Type"},
    {36, "Spanning not supported by this Archive type"},
    {37, "Insert span number %d of the spanned file set"},
    {38, "Error creating Log File"},
    {40, "BBS: request to read too many bytes [%d]"},
    {41, "BBS: New position is outside the buffer"},
    {42, "BBS: Invalid Origin value"},
    {43, "BBS: request to write too many bytes [%d]"},
    {50, "Cannot load cabinet.dll"},
    {51, "FCI cannot open file"},
    {52, "FCI cannot read file"},
    {53, "FCI cannot write file"},
    {54, "FCI close file error"},
    {55, "FCI file seek error"},
    {56, "FCI file delete error"},
    {57, "FCI cannot add file"},
    {58, "FCI cannot create context"},
    {59, "FCI cannot flush cabinet"},
    {60, "FCI cannot flush folder"},
    {61, "FDI cannot enumerate files"},
    {62, "FDI cannot create context"},
    {63, "Invalid cab file template"},
    {64, "Invalid file - not a cabinet file"},
    {80, "TabSlidingWindowStream.Write: Not at end of stream"},
    {81, "TabSlidingWindowStream.bsWriteChunk: seek failed"},
    {82, "TabSlidingWindowStream.bsWriteChunk: write failed"},
    {83, "TabSlidingWindowStream.Seek: invalid origin"},
    {84, "TabSlidingWindowStream.Seek: invalid new position"},
    {100, "Version %s"},
    {101, "Stored"},
    {102, "Shrunk"},
    {103, "Reduced"},
    {104, "Reduced"},
    {105, "Reduced"},
    {106, "Reduced"},
    {107, "Imploded"},
    {108, "Tokenized"},
    {109, "Deflated"},
    {110, "Enhanced Deflation"},
    {111, "DCL Imploded"},
    {112, "Best Method"},
    {113, "Compressed Size: %d"},
    {114, "Uncompressed Size: %d"},
    {115, "Compression Method: %s"},
    {116, "Compression Ratio: %2.0f%%"},
    {117, "CRC: %x"},
    {118, "r"},
    {119, "h"},
    {120, "s"},
    {121, "a"},
    {122, "External File Attributes: %s"},
    {123, "File Type: %s"},
    {124, "Text"},
    {125, "Binary"},
    {126, "Encryption: %s"},
    {127, "Encrypted"},
    {128, "Not Encrypted"},
    {129, "Unknown"},
    {130, "Time Stamp: %s"},
    {131, "Made by Version: %f"},
    {132, "Version Needed to Extract: %f"},
    {133, "Comment: %s"},
    {134, "*.zip"},
    {135, "PKZip Archives (*.zip)|*.zip|Self Extracting Archives (*.exe)|*.exe|All Files (*.*)|*.*"},
    {136, "Select File Name"},
    {137, "OK"},
    {138, "Cancel"},
    {139, "Select Directory"},
    {140, "Enter Password"},
    {141, "&Password"},
    {142, "&Verify"},
    {150, "*.cab"},
    {151, "Cabinet Archives (*.cab)|*.CAB|All Files (*.*)|*.*"},
    {152, "*.txt"},
    {153, "Text Files (*.txt)|*.TXT|All Files (*.*)|*.*"},
    {154, "*.exe"},
    {155, "Self-Extracting Zip Files (*.exe)|*.EXE|All Files (*.*)|*.*"},
    {200, "VMS: request to read too many bytes [%d]"},
    {201, "VMS: invalid origin %d, should be 0, 1, 2"},
    {202, "VMS: Cannot open swap file %s"},
    {203, "VMS: Failed to seek in swap file %s"},
    {204, "VMS: Failed to read %d bytes from swap file %s"},
    {205, "VMS: Failed to write %d bytes to swap file %s"},
    {206, "VMS: request to write too many bytes [%d]"},
    {250, "Name"},
    {251, "Packed"},
    {252, "Method"},
    {253, "Ratio (%)"},
    {254, "CRC32"},
    {255, "Attributes"},
    {256, "Format"},
    {257, "Encrypted"},
    {258, "Time Stamp"},
    {259, "Size"},
    {260, "Version Made"},
    {261, "Version Needed"},
    {262, "Path"},
    {263, "Partial"},
    {264, "Executable"},
    {290, "None"},
    {291, "MSZip"},
    {310, " added "},
    {311, " deleted "},
    {312, " extracted "},
    {313, " freshened "},
    {314, " moved "},
    {315, " replaced "},
    {316, " logging "},
    {400, "Invalid Gzip"},
    {401, "Bad CRC"},
    {402, "Bad File Size"},
    {513, "Unhandled Entity"},
};
static_assert(std::size(kMessages) == 146, "the message table holds 146 pairs");

}  // namespace

std::string ArchiveMessage(int32_t code) {
  for (const MessagePair& pair : kMessages)
    if (pair.code == code) return std::string(pair.text);
  return {};
}

int ArchiveMessageCount() { return static_cast<int>(std::size(kMessages)); }

EAbBadStream::EAbBadStream() : EAbException(ArchiveMessage(AbBadStreamType), AbBadStreamType) {}

EAbBadStream::EAbBadStream(const Exception& inner)
    : EAbException(ArchiveMessage(AbBadStreamType) + "\r\n" + inner.Message(), AbBadStreamType),
      InnerException(&inner) {}

EAbVMSInvalidOrigin::EAbVMSInvalidOrigin(int32_t origin)
    : EAbZipException(Format(ArchiveMessage(AbVMSInvalidOrigin), {origin}), AbVMSInvalidOrigin) {}

EAbVMSErrorOpenSwap::EAbVMSErrorOpenSwap(const std::string& swap_file)
    : EAbZipException(Format(ArchiveMessage(AbVMSErrorOpenSwap), {swap_file}), AbVMSErrorOpenSwap) {}

EAbVMSSeekFail::EAbVMSSeekFail(const std::string& swap_file)
    : EAbZipException(Format(ArchiveMessage(AbVMSSeekFail), {swap_file}), AbVMSSeekFail) {}

EAbVMSReadFail::EAbVMSReadFail(int32_t count, const std::string& swap_file)
    : EAbZipException(Format(ArchiveMessage(AbVMSReadFail), {count, swap_file}), AbVMSReadFail) {}

EAbVMSWriteFail::EAbVMSWriteFail(int32_t count, const std::string& swap_file)
    : EAbZipException(Format(ArchiveMessage(AbVMSWriteFail), {count, swap_file}), AbVMSWriteFail) {}

EAbBBSReadTooManyBytes::EAbBBSReadTooManyBytes(int32_t count)
    : EAbZipException(Format(ArchiveMessage(AbBBSReadTooManyBytes), {count}), AbBBSReadTooManyBytes) {}

EAbBBSWriteTooManyBytes::EAbBBSWriteTooManyBytes(int32_t count)
    : EAbZipException(Format(ArchiveMessage(AbBBSWriteTooManyBytes), {count}),
                      AbBBSWriteTooManyBytes) {}

TAbErrorClassification ClassifyException(const std::exception& e) {
  if (const auto* ab = dynamic_cast<const EAbException*>(&e)) return {ekArchive, ab->ErrorCode};
  if (const auto* io = dynamic_cast<const EInOutError*>(&e)) return {ekInOut, io->ErrorCode};
  if (dynamic_cast<const EFilerError*>(&e)) return {ekFiler, 0};
  if (dynamic_cast<const EFOpenError*>(&e)) return {ekFileOpen, 0};
  if (dynamic_cast<const EFCreateError*>(&e)) return {ekFileCreate, 0};
  return {ekOther, 0};
}

}  // namespace velmora
