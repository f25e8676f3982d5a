// The records behind the directory and what is read from them: the ZIP64
// end record found through its locator, the shift of an archive put behind
// other bytes, and the items of an archive so located, each tested into a
// bit bucket (64-bit sizes and offsets through the driver). Any error must
// be an archive error, and a shift or ZIP64 record must lie inside the data.
#include <cstdint>
#include <vector>

#include "archive/base/exceptions.h"
#include "archive/zip/bit_bucket_stream.h"
#include "archive/zip/zip_archive.h"
#include "archive/zip/zip_directory.h"
#include "archive/zip/zip_extract.h"

using namespace velmora;

namespace {

void CheckTail(TMemoryStream& stream, int64_t size) {
  const int64_t tail = FindEndOfDirectory(stream);
  if (tail < 0) return;
  try {
    TAbZipDirectoryFileFooter end;
    end.ReadFromStream(stream);
    uint64_t entries = end.TotalEntries, bytes = end.DirectorySize, offset = end.DirectoryOffset;
    int64_t directory_end = tail;
    if (auto zip64 = FindZip64End(stream, tail)) {
      if (zip64->Position < 0 || zip64->Position > tail - kAbZip64EndSize) __builtin_trap();
      if (zip64->Shift < 0 || zip64->Shift > zip64->Position) __builtin_trap();
      entries = zip64->Record.TotalEntries;
      bytes = zip64->Record.DirectorySize;
      offset = zip64->Record.DirectoryOffset;
      directory_end = zip64->Position;
    }
    const TAbDirectoryShift found = FindArchiveShift(stream, entries, bytes, offset, directory_end);
    if (found.Shift < 0 || found.Shift > directory_end || directory_end > size) __builtin_trap();
    if (found.DirectoryStart < 0 || found.DirectoryStart > directory_end) __builtin_trap();
  } catch (const EAbZipInvalid&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemoryStream stream(std::vector<uint8_t>(data, data + size));
  CheckTail(stream, static_cast<int64_t>(size));
  TAbZipArchive archive(&stream, "fuzz.zip");
  try {
    archive.Load();
  } catch (const Exception&) {
    return 0;
  }
  if (archive.ExtraBytes < 0 || archive.ExtraBytes > static_cast<int64_t>(size)) __builtin_trap();
  archive.Password = "password";
  for (int i = 0; i < archive.ItemCount() && i < 16; ++i) {
    TAbZipItem& item = *archive.ZipItems(i);
    if (item.GetPackedSize() < 0 || item.GetUnpackedSize() < 0) __builtin_trap();
    try {
      TAbBitBucketStream bucket;
      UnzipItemToStream(archive, item, &bucket);
    } catch (const Exception&) {
    }
  }
  return 0;
}
