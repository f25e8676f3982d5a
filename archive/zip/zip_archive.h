// TAbZipArchive: a ZIP archive read from its central directory, also when
// it sits behind a program or spreads over several images. Extraction of
// one item is the driver's job, reached through the callbacks below.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "archive/base/archive.h"
#include "archive/zip/zip_item.h"
#include "archive/zip/zip_records.h"

namespace velmora {

class TAbZipArchive;

// The extraction driver's entry points, installed by the unzipper.
using TAbUnzipCallback =
    std::function<void(TAbZipArchive& Sender, TAbZipItem& Item, const std::string& NewName)>;
using TAbUnzipToStreamCallback =
    std::function<void(TAbZipArchive& Sender, TAbZipItem& Item, TStream* OutStream)>;
using TAbTestCallback = std::function<void(TAbZipArchive& Sender, TAbZipItem& Item)>;
// Writing only; never set by this system.
using TAbInsertCallback =
    std::function<void(TAbZipArchive& Sender, TAbZipItem& Item, TStream* OutStream)>;
using TAbInsertStreamCallback = std::function<void(TAbZipArchive& Sender, TAbZipItem& Item,
                                                   TStream* OutStream, TStream* InStream)>;

using TAbNeedPasswordEvent = std::function<void(void* Sender, std::string& NewPassword)>;
using TAbRequestDiskEvent = std::function<void(void* Sender, bool& Abort)>;
using TAbRequestNthDiskEvent = std::function<void(void* Sender, uint8_t DiskNumber, bool& Abort)>;
// A stored Unix symbolic link extracted to a host folder: made as a link
// (Restored), or written as a file holding LinkText because the target
// would lead out of the target folder.
using TAbLinkEvent =
    std::function<void(TAbZipItem& Item, const std::string& LinkText, bool Restored)>;

// ActiveDisk before the directory was read.
constexpr uint16_t kAbNoActiveDisk = 0xFFFF;

class TAbZipArchive : public TAbArchive {
 public:
  TAbZipArchive(const std::string& FileName, uint16_t Mode);
  TAbZipArchive(TStream* Stream, const std::string& ArchiveName);
  ~TAbZipArchive() override;

  // Adding and writing are not part of this system: they raise.
  TAbArchiveItem* MakeItem(const std::string& DiskName) override;
  // Each hands the item to its callback; without one, EAbZipNoExtraction.
  void ExtractItemToFile(int Index, const std::string& NewName) override;
  void ExtractItemToStream(int Index, TStream* Stream) override;
  // Finds the end record and reads the central directory into the list.
  void ReadItems() override;
  void WriteArchive() override;
  void VerifyItem(int Index) override;
  std::string NormalizeStoredName(const std::string& DiskName) override;
  void RequestSpanImage(void* Sender, int32_t ImageNumber, std::string& ImageName,
                        bool& Abort) override;
  virtual void RequestLastDisk(bool& Abort);
  virtual void RequestNthDisk(uint8_t DiskNumber, bool& Abort);
  virtual void AskBlankDisk(bool& Abort);

  // Moves the archive's stream to another image or disk: ImageNumber >= 0,
  // or -1 for the one holding the end record. Raises EAbUserAbort when a
  // request is answered with Abort, EAbFileNotFound for a missing image.
  void SwitchImage(int32_t ImageNumber, bool& Abort);
  // The generated name of image ImageNumber: disk 0 of backup.zip is
  // backup.z01.
  std::string GeneratedImageName(int32_t ImageNumber) const;

  TAbZipItem* ZipItems(int Index) const;
  TAbZipDirectoryFileFooter& EndRecord() { return *end_record_; }

  uint8_t AddMethod = 2;
  uint16_t ActiveDisk = kAbNoActiveDisk;
  uint8_t AddDeflateLevel = 1;
  bool RemovableMedia = false;
  // The file starts with "MZ" (or is an ELF program).
  bool ExecutableStub = false;
  std::string Password;
  uint8_t PasswordRetries = 3;
  // For a program with a ZIP behind it: the smallest local header offset,
  // the length of what comes before the ZIP data.
  int32_t StubLength = 0;
  bool GenerateImageNames = false;
  // Bytes in front of the archive that its offsets do not count (a program
  // or other data put before it without adjusting them): unzip's "extra
  // bytes at beginning or within zipfile". The archive is read with them
  // added to every offset. 0 for an archive whose offsets are right.
  int64_t ExtraBytes = 0;
  // Gives extracted files and links in host folders the owner and group
  // the Info-ZIP Unix fields store (unzip's -X). Only the superuser can;
  // for anyone else the call fails quietly, as a date that cannot be set.
  bool RestoreOwners = false;
  // The stored times an extraction gives what it makes (unzip's -D keeps
  // them from folders, -DD from files too, which then take the time of
  // their writing).
  bool RestoreFolderTimes = true;
  bool RestoreFileTimes = true;
  // What becomes of a file in a host folder that an item replaces (unzip's
  // -B): it is kept under NAME~ (kTilde, replacing an older NAME~) or, when
  // NAME~ is taken, the first free NAME~1 ... NAME~99999 (kNumbered). It
  // is moved aside only once the item's data is whole.
  enum class TAbBackup { kNone, kTilde, kNumbered };
  TAbBackup BackupReplaced = TAbBackup::kNone;
  // unzip's -a and -aa: items marked as text (bit 0 of the internal
  // attributes), or all items, are written in this system's text form
  // (text_mode.h); -p and -c callers convert what they pipe themselves.
  enum class TAbTextMode { kBinary, kTextItems, kAllText };
  TAbTextMode TextMode = TAbTextMode::kBinary;
  bool WritesAsText(const TAbZipItem& item) const;

  TAbUnzipCallback ExtractFileCallback;
  TAbUnzipToStreamCallback ExtractStreamCallback;
  TAbTestCallback TestCallback;
  TAbInsertCallback InsertCallback;
  TAbInsertStreamCallback InsertStreamCallback;

  TAbNeedPasswordEvent OnNeedPassword;
  TAbRequestDiskEvent OnRequestLastDisk;
  TAbRequestNthDiskEvent OnRequestNthDisk;
  TAbRequestDiskEvent OnAskBlankDisk;
  TAbLinkEvent OnLink;

 private:
  // Where the directory is, as the end records say, with the shift found.
  struct TAbDirectoryPlace {
    uint32_t Disk;
    uint32_t StartDisk;
    uint64_t Entries;
    uint64_t Size;
    // Where the directory starts on StartDisk (the shift added, once found).
    uint64_t Offset;
    // The position of the record behind the directory on Disk.
    int64_t End;
    int64_t Shift;
  };
  int64_t FindTail(bool& aborted);
  TAbDirectoryPlace LocateDirectory(int64_t tail);
  void ReadDirectory(const TAbDirectoryPlace& place);
  void CheckNoOverlap(const TAbDirectoryPlace& place);
  void SwitchToLastGeneratedImage();
  std::unique_ptr<TAbZipDirectoryFileFooter> end_record_;
};

}  // namespace velmora
