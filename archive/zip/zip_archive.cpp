#include "archive/zip/zip_archive.h"

#include <algorithm>
#include <cctype>

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
  TStream& stream = *Stream();
  if (stream.Size() == 0) return;
  bool aborted = false;
  int64_t tail = FindTail(aborted);
  if (aborted) return;
  end_record_->ReadFromStream(*Stream());
  ActiveDisk = end_record_->DiskNumber;
  if (ActiveDisk > 0) Spanned = true;
  if (Spanned && !RemovableMedia) GenerateImageNames = true;
  ReadDirectory(tail);
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

// Reads central headers from the directory offset up to the end record.
// The offsets are used as they are: an archive behind a program must count
// them from the first byte of the whole file.
void TAbZipArchive::ReadDirectory(int64_t tail) {
  const TAbZipDirectoryFileFooter& end = *end_record_;
  bool abort = false;
  if (Spanned && end.StartDiskNumber < end.DiskNumber) {
    // The directory begins on an earlier image: read it from there rather
    // than from the same offset of the last one.
    ActiveDisk = end.StartDiskNumber;
    SwitchImage(ActiveDisk, abort);
    if (abort) return;
  } else {
    // A directory said to start behind its own end record is damage.
    ZipCheck(end.DirectoryOffset <= tail);
  }
  int64_t lowest = 0x7FFFFFFF;
  int32_t read = 0;
  Stream()->Seek(end.DirectoryOffset, soFromBeginning);
  while (tail > Stream()->Position() || ActiveDisk != end.DiskNumber) {
    if (Spanned && Stream()->Position() >= Stream()->Size()) {
      ZipCheck(ActiveDisk < end.DiskNumber);
      ++ActiveDisk;
      SwitchImage(ActiveDisk, abort);
      if (abort) return;
    }
    auto item = std::make_unique<TAbZipItem>();
    item->ReadFromStream(*Stream());
    int32_t offset = static_cast<int32_t>(item->LocalHeaderOffset());
    if (ExecutableStub && offset < lowest) lowest = offset;
    item->PendingAction = iaNone;
    ItemList().Add(item.release());
    ++read;
    // The total may disagree with the directory, which is read by position:
    // the percentage is kept within 0 to 100 whatever the count says.
    int64_t percent = end.TotalEntries == 0 ? 100 : int64_t{read} * 100 / end.TotalEntries;
    NotifyArchiveProgress(static_cast<uint8_t>(std::min<int64_t>(percent, 100)), abort);
    if (abort) {
      State = stInvalid;
      throw EAbUserAbort();
    }
  }
  NotifyArchiveProgress(100, abort);
  if (ExecutableStub) StubLength = static_cast<int32_t>(lowest);
  Dirty = false;
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
