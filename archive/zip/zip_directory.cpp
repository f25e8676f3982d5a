#include "archive/zip/zip_directory.h"

#include <algorithm>
#include <vector>

#include "archive/base/exceptions.h"
#include "archive/base/span_stream.h"
#include "archive/zip/zip_records.h"
#include "rtl/format.h"

namespace velmora {

namespace {

// An end record's comment is at most 65,535 bytes, so the windows of the
// backward search grow up to 64 KiB.
constexpr int32_t kMaxWindow = 65536;
constexpr int32_t kFirstWindow = 512;
// Consecutive windows share this many bytes, so that a record starting just
// in front of one window's start lies whole in the next one.
constexpr int32_t kWindowOverlap = kAbDirectoryFileFooterSize;

// Reads up to count bytes, going on after short reads; returns the count.
int32_t ReadUpTo(TStream& stream, uint8_t* buffer, int32_t count) {
  int32_t done = 0;
  while (done < count) {
    int32_t n = stream.Read(buffer + done, count - done);
    if (n <= 0) break;
    done += n;
  }
  return done;
}

uint16_t CommentLengthAt(const uint8_t* record) {
  return static_cast<uint16_t>(record[20] | (record[21] << 8));
}

uint16_t Read16At(const uint8_t* record, int offset) {
  return static_cast<uint16_t>(record[offset] | (record[offset + 1] << 8));
}

// Values that say "see the ZIP64 end record" rather than being the value.
constexpr uint16_t kZip64Marker16 = 0xFFFF;
constexpr uint32_t kZip64Marker32 = 0xFFFFFFFF;
// A disk of a spanned set is asked for by a one-byte number (the disk number
// plus one), so no set this engine reads has a disk numbered above 254.
constexpr uint16_t kMaxDiskNumber = 254;

// Whether the 22 bytes at `position` can be the end record of a stream of
// `size` bytes: its comment fits before the end, the directory starts on
// this disk or an earlier one of a set this engine can read, and a
// directory on this disk lies wholly in front of the record. Program bytes
// and compressed data hold the signature by chance; without this a
// program's own code passed for the last disk of a spanned set. The entry
// counts are not looked at: the directory is read by position.
bool PlausibleEndRecord(const uint8_t* record, int64_t position, int64_t size) {
  if (size - (position + kAbDirectoryFileFooterSize) < CommentLengthAt(record)) return false;
  const uint16_t disk = Read16At(record, 4);
  const uint16_t start_disk = Read16At(record, 6);
  if (disk == kZip64Marker16 || start_disk == kZip64Marker16) return true;
  if (disk > kMaxDiskNumber || start_disk > disk) return false;
  if (start_disk < disk) return true;  // the directory begins on an earlier disk
  const uint32_t directory_size = ReadLittleEndian32(record + 12);
  const uint32_t directory_offset = ReadLittleEndian32(record + 16);
  if (directory_size == kZip64Marker32 || directory_offset == kZip64Marker32) return true;
  return int64_t{directory_offset} + directory_size <= position;
}

// The last 22 bytes as an end record without a comment: every archive
// without a comment, the installer's own file among them.
int64_t FindByFastPath(TStream& stream) {
  int64_t p = stream.Seek(-kAbDirectoryFileFooterSize, soFromEnd);
  if (p < 0) return -1;
  uint8_t record[kAbDirectoryFileFooterSize];
  if (ReadUpTo(stream, record, sizeof record) != kAbDirectoryFileFooterSize) return -1;
  if (ReadLittleEndian32(record) != kAbZipEndCentralDirectorySignature) return -1;
  if (CommentLengthAt(record) != 0) return -1;
  if (!PlausibleEndRecord(record, p, p + kAbDirectoryFileFooterSize)) return -1;
  stream.Seek(p, soFromBeginning);
  return p;
}

// The highest plausible record in buffer; -1 when there is none.
int64_t FindInWindow(const uint8_t* buffer, int32_t n, int64_t window_start, int64_t size) {
  for (int32_t q = n - kAbDirectoryFileFooterSize; q >= 0; --q) {
    if (ReadLittleEndian32(buffer + q) != kAbZipEndCentralDirectorySignature) continue;
    if (PlausibleEndRecord(buffer + q, window_start + q, size)) return window_start + q;
  }
  return -1;
}

}  // namespace

int64_t FindEndOfDirectory(TStream& stream) {
  int32_t cap = kMaxWindow;
  auto* span = dynamic_cast<TAbSpanStream*>(&stream);
  bool stayed_in_image = false;
  if (span != nullptr) {
    int64_t size = span->Size();
    if (size > 0 && size < kMaxWindow) cap = static_cast<int32_t>(size);
    stayed_in_image = span->StayInImage;
    span->StayInImage = true;
  }
  const int64_t start = stream.Position();
  if (int64_t found = FindByFastPath(stream); found >= 0) return found;

  const int64_t size = stream.Size();
  int32_t window = std::min(kFirstWindow, cap);
  int64_t back = window;
  std::vector<uint8_t> buffer;
  for (;;) {
    int64_t p = stream.Seek(-back, soFromEnd);
    bool last = false;
    if (p <= 0) {
      stream.Seek(0, soFromBeginning);
      p = 0;
      last = true;
    }
    buffer.resize(static_cast<size_t>(window));
    int32_t n = ReadUpTo(stream, buffer.data(), window);
    if (n < kAbDirectoryFileFooterSize) return -1;
    if (int64_t found = FindInWindow(buffer.data(), n, p, size); found >= 0) {
      stream.Seek(found, soFromBeginning);
      return found;
    }
    if (last) break;
    if (window < cap) window = std::min(2 * window, cap);
    back += window - kWindowOverlap;
  }
  stream.Seek(start, soFromBeginning);
  if (span != nullptr) span->StayInImage = stayed_in_image;
  return -1;
}

namespace {

// Restores a stream's position however a check ends.
class PositionKeeper {
 public:
  explicit PositionKeeper(TStream& stream) : stream_(stream), position_(stream.Position()) {}
  ~PositionKeeper() { stream_.Seek(position_, soFromBeginning); }
  PositionKeeper(const PositionKeeper&) = delete;
  PositionKeeper& operator=(const PositionKeeper&) = delete;

 private:
  TStream& stream_;
  int64_t position_;
};

// The first four bytes of the stream, zero-filled when it is shorter.
uint32_t LeadingSignature(TStream& stream) {
  uint8_t head[4] = {};
  stream.Seek(0, soFromBeginning);
  ReadUpTo(stream, head, sizeof head);
  return ReadLittleEndian32(head);
}

}  // namespace

namespace {

// The four bytes at position, or 0 when the stream ends before them.
uint32_t SignatureAt(TStream& stream, int64_t position) {
  uint8_t bytes[4] = {};
  if (position < 0 || stream.Seek(position, soFromBeginning) != position) return 0;
  if (ReadUpTo(stream, bytes, sizeof bytes) != 4) return 0;
  return ReadLittleEndian32(bytes);
}

std::string Number(uint64_t value) { return std::to_string(value); }

}  // namespace

std::optional<TAbZip64Tail> FindZip64End(TStream& stream, int64_t end_position) {
  const int64_t locator_position = end_position - kAbZip64LocatorSize;
  if (locator_position < kAbZip64EndSize) return std::nullopt;
  stream.Seek(locator_position, soFromBeginning);
  TAbZip64Locator locator;
  if (!locator.ReadFromStream(stream)) return std::nullopt;
  TAbZip64Tail tail;
  // Where the locator says, else right in front of the locator: a record
  // without extensible data, in an archive whose offsets miss the bytes
  // put before it.
  const uint64_t said = locator.EndRecordOffset;
  const int64_t beside = locator_position - kAbZip64EndSize;
  if (said <= static_cast<uint64_t>(beside) &&
      SignatureAt(stream, static_cast<int64_t>(said)) == kAbZip64EndSignature) {
    tail.Position = static_cast<int64_t>(said);
  } else if (said < static_cast<uint64_t>(beside) &&
             SignatureAt(stream, beside) == kAbZip64EndSignature) {
    tail.Position = beside;
    tail.Shift = beside - static_cast<int64_t>(said);
  } else {
    throw EAbZipBadDirectory(Format(
        "The ZIP64 locator points at offset %s, where there is no ZIP64 end record",
        {Number(said)}));
  }
  stream.Seek(tail.Position, soFromBeginning);
  tail.Record.ReadFromStream(stream);
  return tail;
}

TAbDirectoryShift FindArchiveShift(TStream& stream, uint64_t entries, uint64_t directory_size,
                                   uint64_t directory_offset, int64_t directory_end) {
  const auto end = static_cast<uint64_t>(directory_end);
  // The smallest central header is 46 bytes, so no directory holds more
  // entries than that many fit in its room. A wrong size with the entries
  // all there between the offset and the end record is read by position.
  const uint64_t room =
      directory_offset < end ? std::max(directory_size, end - directory_offset) : directory_size;
  if (entries > room / kAbDirectoryFileHeaderSize) {
    throw EAbZipBadDirectory(Format(
        "The directory claims %s entries, but its %s bytes hold at most %s",
        {Number(entries), Number(room), Number(room / kAbDirectoryFileHeaderSize)}));
  }
  const auto said = static_cast<int64_t>(directory_offset);
  TAbDirectoryShift found{0, said};
  if (entries == 0 && directory_size == 0 && directory_offset <= end) {
    return found;  // an empty archive
  }
  if (directory_offset >= end) {
    throw EAbZipBadDirectory(Format(
        "The directory is said to start at offset %s, inside or behind its end record at %s",
        {Number(directory_offset), Number(end)}));
  }
  if (directory_size > end - directory_offset) {
    throw EAbZipBadDirectory(Format(
        "The directory (%s bytes at offset %s) overlaps its end record at %s",
        {Number(directory_size), Number(directory_offset), Number(end)}));
  }
  const auto actual = static_cast<int64_t>(end - directory_size);
  if (actual == said) return found;
  // A directory that is where it is said to be, with other bytes between
  // it and the end record (a signature record, say), is not shifted.
  if (SignatureAt(stream, said) == kAbZipCentralDirectorySignature) return found;
  if (SignatureAt(stream, actual) != kAbZipCentralDirectorySignature) return found;
  const int64_t shift = actual - said;
  try {
    stream.Seek(actual, soFromBeginning);
    TAbZipDirectoryFileHeader first;
    first.ReadFromStream(stream);
    const auto local = static_cast<int64_t>(first.RelativeOffset64 & INT64_MAX);
    int64_t shifted = 0;
    if (!__builtin_add_overflow(local, shift, &shifted) &&
        SignatureAt(stream, shifted) == kAbZipLocalFileHeaderSignature) {
      return {shift, actual};
    }
    // The items' offsets are right and only the directory's is not.
    if (SignatureAt(stream, local) == kAbZipLocalFileHeaderSignature) return {0, actual};
  } catch (const EAbZipInvalid&) {
  }
  return found;
}

TAbArchiveKind CheckZipFile(TStream& stream) {
  PositionKeeper keep(stream);
  uint32_t signature = LeadingSignature(stream);
  if (signature == kAbZipSpannedSetSignature || signature == kAbZipPossiblySpannedSignature) {
    return akSpannedZip;
  }
  if (FindEndOfDirectory(stream) < 0) return akUnknown;
  try {
    TAbZipDirectoryFileFooter footer;
    footer.ReadFromStream(stream);
    return footer.SignatureMatches() ? akZip : akUnknown;
  } catch (const EAbZipInvalid&) {
    // An end record whose comment runs past the end: not a ZIP we can read.
    return akUnknown;
  }
}

TAbArchiveKind CheckSelfExtractingFile(TStream& stream) {
  PositionKeeper keep(stream);
  uint32_t signature = LeadingSignature(stream);
  bool program = (signature & 0xFFFF) == kAbExeSignature || signature == kAbElfSignature;
  if (!program) return akUnknown;
  return CheckZipFile(stream) == akZip ? akSelfExtractingZip : akUnknown;
}

}  // namespace velmora
