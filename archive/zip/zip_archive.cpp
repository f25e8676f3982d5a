#include "archive/zip/zip_archive.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "archive/base/file_info.h"
#include "archive/base/span_stream.h"
#include "archive/zip/zip_directory.h"
#include "platform/message_box.h"
#include "platform/sysutils.h"
#include "rtl/format.h"

namespace velmora {

namespace {

// The disk prompts are task-modal, as the original's were (MB_TASKMODAL).
constexpr UINT kTaskModal = 0x2000;
constexpr uint8_t kAddOptionStripDrive = 1;

[[noreturn]] void RaiseWritingUnsupported() {
  throw EAbException("Changing archives is not supported");
}

// OK/Cancel prompt; true when the user cancelled.
bool PromptCancelled(const std::string& text, const char* caption) {
  return MessageBoxA(nullptr, text.c_str(), caption, MB_OKCANCEL | kTaskModal) == IDCANCEL;
}

// The position of the extension's dot in a Windows file name, or npos.
size_t ExtensionDot(const std::string& name) {
  size_t dot = name.find_last_of(".\\:");
  return dot != std::string::npos && name[dot] == '.' ? dot : std::string::npos;
}

std::string ChangeExtension(const std::string& name, const std::string& extension) {
  size_t dot = ExtensionDot(name);
  return (dot == std::string::npos ? name : name.substr(0, dot)) + extension;
}

// A span stream counts images from 0 as it is opened; one opened on a later
// image must count on from that image, or its own move to the next image
// asks for the wrong one.
std::unique_ptr<TStream> CountingFrom(std::unique_ptr<TStream> stream, int32_t ImageNumber) {
  if (auto* span = dynamic_cast<TAbSpanStream*>(stream.get()); span && ImageNumber > 0) {
    span->SetImageNumber(static_cast<uint32_t>(ImageNumber));
  }
  return stream;
}

}  // namespace

TAbZipArchive::TAbZipArchive(const std::string& FileName, uint16_t Mode)
    : TAbArchive(FileName, Mode), end_record_(std::make_unique<TAbZipDirectoryFileFooter>()) {
  AddMethod = 2;
  AddOptions |= kAddOptionStripDrive;
  AddDeflateLevel = 1;
  PasswordRetries = 3;
  TempDirectory.clear();
  SetSpanSizeLimit(0);
  ActiveDisk = kAbNoActiveDisk;
}

TAbZipArchive::TAbZipArchive(TStream* Stream, const std::string& ArchiveName)
    : TAbArchive(Stream, ArchiveName), end_record_(std::make_unique<TAbZipDirectoryFileFooter>()) {
  PasswordRetries = 3;
}

TAbZipArchive::~TAbZipArchive() = default;

TAbArchiveItem* TAbZipArchive::MakeItem(const std::string&) { RaiseWritingUnsupported(); }
void TAbZipArchive::WriteArchive() { RaiseWritingUnsupported(); }
std::string TAbZipArchive::NormalizeStoredName(const std::string&) { RaiseWritingUnsupported(); }

TAbZipItem* TAbZipArchive::ZipItems(int Index) const {
  // Every item of this archive's list was made by ReadItems as a ZIP item.
  return static_cast<TAbZipItem*>(Items(Index));
}

bool TAbZipArchive::WritesAsText(const TAbZipItem& item) const {
  constexpr uint16_t kTextFlag = 1;  // internal attributes: "apparently text"
  return TextMode == TAbTextMode::kAllText ||
         (TextMode == TAbTextMode::kTextItems &&
          (item.DirectoryHeader().InternalFileAttributes & kTextFlag) != 0);
}

void TAbZipArchive::ExtractItemToFile(int Index, const std::string& NewName) {
  if (!ExtractFileCallback) throw EAbZipNoExtraction();
  ExtractFileCallback(*this, *ZipItems(Index), NewName);
}

void TAbZipArchive::ExtractItemToStream(int Index, TStream* Stream) {
  if (!ExtractStreamCallback) throw EAbZipNoExtraction();
  ExtractStreamCallback(*this, *ZipItems(Index), Stream);
}

void TAbZipArchive::VerifyItem(int Index) {
  if (!TestCallback) throw EAbZipNoExtraction();
  TestCallback(*this, *ZipItems(Index));
}

void TAbZipArchive::ReadItems() {
  GenerateImageNames = false;
  ExtraBytes = 0;
  TStream& stream = *Stream();
  if (stream.Size() == 0) return;
  bool aborted = false;
  int64_t tail = FindTail(aborted);
  if (aborted) return;
  end_record_->ReadFromStream(*Stream());
  TAbDirectoryPlace place = LocateDirectory(tail);
  ActiveDisk = static_cast<uint16_t>(place.Disk);
  if (ActiveDisk > 0) Spanned = true;
  if (Spanned && !RemovableMedia) GenerateImageNames = true;
  ReadDirectory(place);
}

// The directory's values from the end record, or from the ZIP64 end record
// when a locator points to one (its values hold also where the 32-bit
// fields are real), with the checks that tell an impossible directory from
// an empty one and the shift of an archive put behind other bytes.
TAbZipArchive::TAbDirectoryPlace TAbZipArchive::LocateDirectory(int64_t tail) {
  const TAbZipDirectoryFileFooter& end = *end_record_;
  TAbDirectoryPlace place{end.DiskNumber, end.StartDiskNumber, end.TotalEntries,
                          end.DirectorySize, end.DirectoryOffset, tail, 0};
  if (auto zip64 = FindZip64End(*Stream(), tail)) {
    const TAbZip64EndRecord& record = zip64->Record;
    // The disk numbers go through the 16-bit ActiveDisk.
    ZipCheck(record.DiskNumber < kAbZip64Marker16 && record.StartDiskNumber <= record.DiskNumber);
    place = {record.DiskNumber,    record.StartDiskNumber, record.TotalEntries,
             record.DirectorySize, record.DirectoryOffset, zip64->Position,
             zip64->Shift};
  }
  if (place.StartDisk != place.Disk) {
    // The directory starts on an earlier disk: its offset counts there.
    if (place.Entries > place.Size / kAbDirectoryFileHeaderSize) {
      throw EAbZipBadDirectory(Format("The directory claims %s entries, but its %s bytes hold at most %s",
                                      {std::to_string(place.Entries), std::to_string(place.Size),
                                       std::to_string(place.Size / kAbDirectoryFileHeaderSize)}));
    }
    return place;
  }
  const TAbDirectoryShift shift =
      FindArchiveShift(*Stream(), place.Entries, place.Size, place.Offset, place.End);
  if (shift.Shift != 0 && place.Shift != 0 && place.Shift != shift.Shift) {
    throw EAbZipBadDirectory("The ZIP64 end record and the directory disagree on the bytes "
                             "in front of the archive");
  }
  if (shift.Shift != 0 || place.Shift == 0) {
    place.Shift = shift.Shift;
    place.Offset = static_cast<uint64_t>(shift.DirectoryStart);
  } else {
    place.Offset += static_cast<uint64_t>(place.Shift);
  }
  if (!Spanned) ExtraBytes = place.Shift;
  return place;
}

// Steps up to the end record: the leading signature decides whether the
// end record may lie on another image. Returns its position, with the
// (possibly new) stream at it.
int64_t TAbZipArchive::FindTail(bool& aborted) {
  uint8_t head[4] = {};
  Stream()->Seek(0, soFromBeginning);
  for (int32_t done = 0, n = 1; done < 4 && n > 0; done += n)
    n = Stream()->Read(head + done, 4 - done);
  uint32_t signature = ReadLittleEndian32(head);
  // The Linux installer is an ELF program with the ZIP behind it: it is an
  // executable stub just as an "MZ" image is.
  ExecutableStub = (signature & 0xFFFF) == kAbExeSignature || signature == kAbElfSignature;
  if (dynamic_cast<TAbSpanStream*>(Stream()) != nullptr) {
    RemovableMedia = IsRemovableDrive(ArchiveFileName);
  }
  int64_t tail;
  if (signature == kAbZipSpannedSetSignature || signature == kAbZipPossiblySpannedSignature) {
    tail = RemovableMedia ? -1 : FindEndOfDirectory(*Stream());
  } else {
    tail = FindEndOfDirectory(*Stream());
    if (tail == -1) throw EAbZipInvalid();
  }
  if (tail == -1) {
    // The first disk of a set: the end record is on the last one.
    do {
      SwitchImage(-1, aborted);
      if (!aborted) tail = FindEndOfDirectory(*Stream());
    } while (!aborted && tail == -1);
    if (aborted) return -1;
    Spanned = true;
  }
  return tail;
}

// Reads central headers from the directory offset up to the record behind
// the directory. The offsets are used as they are, plus the shift: an
// archive behind a program counts them from the first byte of the whole
// file, or else they miss the shift.
void TAbZipArchive::ReadDirectory(const TAbDirectoryPlace& place) {
  bool abort = false;
  if (Spanned && place.StartDisk < place.Disk) {
    // The directory begins on an earlier image: read it from there rather
    // than from the same offset of the last one.
    ActiveDisk = static_cast<uint16_t>(place.StartDisk);
    SwitchImage(ActiveDisk, abort);
    if (abort) return;
  }
  uint64_t lowest = UINT64_MAX;
  uint64_t read = 0;
  const int64_t tail = place.End;
  Stream()->Seek(static_cast<int64_t>(place.Offset), soFromBeginning);
  while (tail > Stream()->Position() || ActiveDisk != place.Disk) {
    if (Spanned && Stream()->Position() >= Stream()->Size()) {
      ZipCheck(ActiveDisk < place.Disk);
      ++ActiveDisk;
      SwitchImage(ActiveDisk, abort);
      if (abort) return;
    }
    auto item = std::make_unique<TAbZipItem>();
    item->ReadFromStream(*Stream());
    if (place.Shift != 0) {
      item->SetLocalHeaderOffset(item->LocalHeaderOffset() + static_cast<uint64_t>(place.Shift));
    }
    lowest = std::min<uint64_t>(lowest, item->LocalHeaderOffset());
    item->PendingAction = iaNone;
    ItemList().Add(item.release());
    ++read;
    // The total may disagree with the directory, which is read by position:
    // the percentage is kept within 0 to 100 whatever the count says.
    uint64_t percent = place.Entries == 0 ? 100 : read * 100 / place.Entries;
    NotifyArchiveProgress(static_cast<uint8_t>(std::min<uint64_t>(percent, 100)), abort);
    if (abort) {
      State = stInvalid;
      throw EAbUserAbort();
    }
  }
  CheckNoOverlap(place);
  NotifyArchiveProgress(100, abort);
  if (ExecutableStub) StubLength = static_cast<int32_t>(std::min<uint64_t>(lowest, INT32_MAX));
  Dirty = false;
}

// Every item's data, from its local header to the end of its packed bytes,
// must lie apart from every other item's and from the directory; otherwise
// the same bytes are extracted many times over (a "zip bomb"). The local
// header is counted with the central name's length and no extra field, the
// least it can be, so a real archive is never refused; no byte is read.
void TAbZipArchive::CheckNoOverlap(const TAbDirectoryPlace& place) {
  // Two bytes of Deflate hold no more than a block header and its end code.
  constexpr uint64_t kMostPackedOfAnEmptyItem = 2;
  struct Span {
    uint32_t disk;
    uint64_t start;
    uint64_t end;
  };
  std::vector<Span> spans;
  spans.reserve(static_cast<size_t>(ItemCount()) + 1);
  for (int i = 0; i < ItemCount(); ++i) {
    const TAbZipItem& item = *ZipItems(i);
    const TAbZipDirectoryFileHeader& header = item.DirectoryHeader();
    // An empty item of at most two packed bytes (an empty Deflate stream)
    // multiplies nothing: archives that list one empty entry twice are
    // read, as 7-Zip, bsdtar and Python read them.
    if (header.CompressedSize64 <= kMostPackedOfAnEmptyItem && header.UncompressedSize64 == 0) {
      continue;
    }
    uint64_t end = 0;
    if (__builtin_add_overflow(item.LocalHeaderOffset(),
                               uint64_t{kAbLocalFileHeaderSize} + header.FileNameLength, &end) ||
        __builtin_add_overflow(end, header.CompressedSize64, &end)) {
      end = UINT64_MAX;
    }
    spans.push_back({item.StartDisk(), item.LocalHeaderOffset(), end});
  }
  if (place.StartDisk == place.Disk && place.Size != 0) {
    spans.push_back({place.StartDisk, place.Offset, place.Offset + place.Size});
  }
  std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) {
    return a.disk != b.disk ? a.disk < b.disk : a.start < b.start;
  });
  for (size_t i = 1; i < spans.size(); ++i) {
    if (spans[i].disk == spans[i - 1].disk && spans[i].start < spans[i - 1].end) {
      // No item of such an archive is left in the list to be extracted.
      while (ItemCount() > 0) ItemList().Delete(ItemCount() - 1);
      throw EAbZipOverlap(Format(
          "Invalid archive: items overlap at offset %s (a possible zip bomb); nothing extracted",
          {std::to_string(spans[i].start)}));
    }
  }
}

std::string TAbZipArchive::GeneratedImageName(int32_t ImageNumber) const {
  size_t dot = ExtensionDot(ArchiveFileName);
  std::string letter;
  if (dot != std::string::npos) {
    for (size_t i = dot + 1; i < ArchiveFileName.size(); ++i) {
      if (std::isalpha(static_cast<unsigned char>(ArchiveFileName[i]))) {
        letter = ArchiveFileName.substr(i, 1);
        break;
      }
    }
  }
  int32_t number = static_cast<int32_t>((static_cast<int64_t>(ImageNumber) + 1) % 100);
  if (number < 0) number += 100;
  const char digits[] = {static_cast<char>('0' + number / 10), static_cast<char>('0' + number % 10),
                         '\0'};
  return ChangeExtension(ArchiveFileName, "." + letter + digits);
}

void TAbZipArchive::SwitchImage(int32_t ImageNumber, bool& Abort) {
  Abort = false;
  std::string name = ArchiveFileName;
  if (RemovableMedia) {
    if (ImageNumber >= 0) {
      RequestNthDisk(static_cast<uint8_t>(ImageNumber + 1), Abort);
      if (Abort) throw EAbUserAbort();
    }
    ReplaceStream(CountingFrom(OpenSpanStream(name, OpenMode()), ImageNumber));
    if (ActiveDisk == kAbNoActiveDisk && FindEndOfDirectory(*Stream()) < 0) {
      RequestLastDisk(Abort);
      if (Abort) throw EAbUserAbort();
    }
    return;
  }
  if (OnRequestImage) {
    OnRequestImage(this, ImageNumber, name, Abort);
    if (Abort) throw EAbUserAbort();
    ReplaceStream(CountingFrom(OpenSpanStream(name, OpenMode()), ImageNumber));
    return;
  }
  if (ImageNumber < 0) {
    SwitchToLastGeneratedImage();
    return;
  }
  // The last image of a set keeps the archive's own extension (backup.zip
  // after backup.z01, backup.z02), as RequestSpanImage also assumes.
  name = GeneratedImageName(ImageNumber);
  if (!FileExists(name) && ImageNumber == end_record_->DiskNumber) {
    name = ChangeExtension(name, ".ZIP");
  }
  if (!FileExists(name)) throw EAbFileNotFound();
  ReplaceStream(CountingFrom(OpenSpanStream(name, OpenMode()), ImageNumber));
}

// Tries the generated names in turn for the image with the end record. The
// archive keeps its current stream until one is found, so it never holds a
// dropped one.
void TAbZipArchive::SwitchToLastGeneratedImage() {
  GenerateImageNames = true;
  for (int32_t number = 1; number <= 99; ++number) {
    std::string name = GeneratedImageName(number);
    if (!FileExists(name)) throw EAbFileNotFound();
    std::unique_ptr<TStream> candidate = CountingFrom(OpenSpanStream(name, OpenMode()), number);
    if (FindEndOfDirectory(*candidate) >= 0) {
      ReplaceStream(std::move(candidate));
      return;
    }
  }
  throw EAbFileNotFound();
}

void TAbZipArchive::RequestLastDisk(bool& Abort) {
  Abort = false;
  if (OnRequestLastDisk) {
    OnRequestLastDisk(this, Abort);
  } else {
    Abort = PromptCancelled(ArchiveMessage(AbLastDiskRequest), "Insert floppy");
  }
}

void TAbZipArchive::RequestNthDisk(uint8_t DiskNumber, bool& Abort) {
  Abort = false;
  if (OnRequestNthDisk) {
    OnRequestNthDisk(this, DiskNumber, Abort);
  } else {
    Abort = PromptCancelled(Format("Insert disk number %d of the spanned disk set", {DiskNumber}),
                            "Insert floppy");
  }
}

void TAbZipArchive::AskBlankDisk(bool& Abort) {
  Abort = false;
  if (OnAskBlankDisk) OnAskBlankDisk(this, Abort);
}

void TAbZipArchive::RequestSpanImage(void*, int32_t ImageNumber, std::string& ImageName,
                                     bool& Abort) {
  if (RemovableMedia) {
    RequestNthDisk(static_cast<uint8_t>(ImageNumber), Abort);
    return;
  }
  if (OnRequestImage) {
    OnRequestImage(this, ImageNumber, ImageName, Abort);
  } else if (GenerateImageNames) {
    ImageName = GeneratedImageName(ImageNumber);
    if (!FileExists(ImageName)) ImageName = ChangeExtension(ImageName, ".ZIP");
  } else {
    Abort = PromptCancelled(Format("Insert span number %d of the spanned file set", {ImageNumber}),
                            "Image file name");
  }
}

}  // namespace velmora
