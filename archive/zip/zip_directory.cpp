#include "archive/zip/zip_directory.h"

#include <algorithm>
#include <vector>

#include "archive/base/exceptions.h"
#include "archive/base/span_stream.h"
#include "archive/zip/zip_records.h"

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

// The last 22 bytes as an end record without a comment: every archive
// without a comment, the installer's own file among them.
int64_t FindByFastPath(TStream& stream) {
  int64_t p = stream.Seek(-kAbDirectoryFileFooterSize, soFromEnd);
  if (p < 0) return -1;
  uint8_t record[kAbDirectoryFileFooterSize];
  if (ReadUpTo(stream, record, sizeof record) != kAbDirectoryFileFooterSize) return -1;
  if (ReadLittleEndian32(record) != kAbZipEndCentralDirectorySignature) return -1;
  if (CommentLengthAt(record) != 0) return -1;
  stream.Seek(p, soFromBeginning);
  return p;
}

// The highest record in buffer whose comment fits between it and the end of
// the stream; -1 when there is none.
int64_t FindInWindow(const uint8_t* buffer, int32_t n, int64_t window_start, int64_t size) {
  for (int32_t q = n - kAbDirectoryFileFooterSize; q >= 0; --q) {
    if (ReadLittleEndian32(buffer + q) != kAbZipEndCentralDirectorySignature) continue;
    int64_t behind = size - (window_start + q + kAbDirectoryFileFooterSize);
    if (behind >= CommentLengthAt(buffer + q)) return window_start + q;
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
