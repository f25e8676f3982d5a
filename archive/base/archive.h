// The format-independent archive: its state, its item list, its events and
// the generic operations (loading, extraction by mask, target paths, the
// log). A format derives from TAbArchive and fills the first slots.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/base/archive_item.h"
#include "archive/base/exceptions.h"
#include "archive/base/span_stream.h"
#include "rtl/stream.h"

namespace velmora {

class TAbPadLock;

enum TAbArchiveState : uint8_t { stInvalid = 0, stIdle = 1, stBusy = 2 };

// A set of extraction options, as bits.
using TAbExtractOptions = uint8_t;
constexpr TAbExtractOptions eoCreateDirs = 1;   // create missing folders of a target path
constexpr TAbExtractOptions eoRestorePath = 2;  // keep the stored folders of an item's name

enum TAbProcessType : uint8_t {
  poAdd = 0,
  poDelete = 1,
  poExtract = 2,
  poFreshen = 3,
  poMove = 4,
  poReplace = 5,
  poUnhandled = 6,
};

// Events: an empty std::function is "not assigned" and is not called.
// Sender is the object that raised the event (the archive, or the component
// that forwards it).
using TAbArchiveItemFailureEvent =
    std::function<void(void* Sender, TAbArchiveItem* Item, TAbProcessType ProcessType,
                       TAbErrorClass ErrorClass, int32_t ErrorCode)>;
using TAbArchiveProgressEvent = std::function<void(void* Sender, uint8_t Progress, bool& Abort)>;
using TAbArchiveItemProgressEvent =
    std::function<void(void* Sender, TAbArchiveItem* Item, uint8_t Progress, bool& Abort)>;
using TAbArchiveItemConfirmEvent = std::function<void(void* Sender, TAbArchiveItem* Item,
                                                      TAbProcessType ProcessType, bool& Confirm)>;
using TAbConfirmOverwriteEvent = std::function<void(std::string& Name, bool& Confirm)>;
// A note about an item that was extracted all the same (the text says
// what happened, for a front end to show as a warning).
using TAbItemWarningEvent = std::function<void(TAbArchiveItem* Item, const std::string& Message)>;
using TAbArchiveConfirmEvent = std::function<void(void* Sender, bool& Confirm)>;
using TAbArchiveEvent = std::function<void(void* Sender)>;
using TAbProgressEvent = std::function<void(uint8_t Progress, bool& Abort)>;
// TAbRequestImageEvent (Sender, ImageNumber, var ImageName, var Abort) comes
// with the span stream.

// Log line kinds; ConfirmItem maps each process type to one.
enum TAbLogType : uint8_t {
  ltAdd = 0,
  ltDelete = 1,
  ltExtract = 2,
  ltFreshen = 3,
  ltMove = 4,
  ltReplace = 5,
  ltStart = 6,
  ltFoundUnhandled = 7,
};

class TAbArchive {
 public:
  // Opens the file F through a span stream with open mode M; F must be a
  // full path. The base directory starts as the running program's folder.
  TAbArchive(const std::string& FileName, uint16_t Mode);
  // Reads the archive from Stream, which stays the caller's.
  TAbArchive(TStream* Stream, const std::string& ArchiveName);
  virtual ~TAbArchive();
  TAbArchive(const TAbArchive&) = delete;
  TAbArchive& operator=(const TAbArchive&) = delete;

  // Slots of the format.
  virtual TAbArchiveItem* MakeItem(const std::string& DiskName) = 0;
  virtual void ExtractItemToFile(int Index, const std::string& NewName) = 0;
  virtual void ExtractItemToStream(int Index, TStream* Stream) = 0;
  virtual void ReadItems() = 0;
  virtual void WriteArchive() = 0;
  virtual void VerifyItem(int Index) = 0;
  // Notifications; each resets its answer before it calls the handler.
  virtual void NotifyItemFailure(TAbArchiveItem* Item, TAbProcessType ProcessType,
                                 TAbErrorClass ErrorClass, int32_t ErrorCode);
  virtual void NotifySaveProgress(uint8_t Progress, bool& Abort);
  virtual void NotifyArchiveProgress(uint8_t Progress, bool& Abort);
  virtual void NotifyItemProgress(TAbArchiveItem* Item, uint8_t Progress, bool& Abort);
  virtual void ConfirmItem(TAbArchiveItem* Item, TAbProcessType ProcessType, bool& Confirm);
  virtual void ConfirmSave(bool& Confirm);
  virtual void NotifyLoad();
  virtual void NotifyProgress(uint8_t Progress, bool& Abort);
  virtual void NotifySave();
  // Naming of added files: not supported here (raises).
  virtual std::string NormalizeStoredName(const std::string& DiskName);
  virtual int32_t GetSpanSizeLimit() const;
  virtual void SetSpanSizeLimit(int32_t Value);
  // Editing: not supported here (raises).
  virtual void AddItem(TAbArchiveItem* Item);
  virtual void Load();
  virtual void MoveItem(TAbArchiveItem* Item, const std::string& NewStoredPath);
  virtual void Save();
  virtual void DeflateProgressStep(uint8_t Progress);
  // The Inflate decoder's progress: its percentages count read-ahead and
  // can pass 100, so only the low byte goes on.
  virtual void InflateProgressStep(int32_t Progress);
  // Called by the span stream for another image; this archive kind has
  // none and raises EAbSpanningNotSupported.
  virtual void RequestSpanImage(void* Sender, int32_t ImageNumber, std::string& ImageName,
                                bool& Abort);

  void RequireValid() const;
  void BeginBusy();
  void EndBusy();
  void SaveIfPending(TAbArchiveItem* Item);
  int ItemCount() const;
  int IndexOfItem(TAbArchiveItem* Item) const;
  TAbArchiveItem* Items(int Index) const;
  TAbArchiveList& ItemList() { return *items_; }

  void ExtractByMask(const std::string& Mask);
  void ExtractByMaskExcept(const std::string& Mask, const std::string& ExclusionMask);
  void ExtractItem(int Index, const std::string& NewName);

  const std::string& BaseDirectory() const { return base_directory_; }
  void SetBaseDirectory(const std::string& Value);
  // A base folder named by its host path as a command line gives it (every
  // character but "/" belongs to a name, a backslash too); BaseDirectory
  // then shows it as a Z: path. Names below it are taken exactly. Empty
  // unless set; SetBaseDirectory clears it.
  const std::string& HostBaseDirectory() const { return host_base_directory_; }
  void SetHostBaseDirectory(const std::string& HostFolder);
  const std::string& LogFile() const { return log_file_; }
  void SetLogFile(const std::string& Value) { log_file_ = Value; }
  bool Logging() const { return logging_; }
  void SetLogging(bool Value);
  void WriteLogLine(const std::string& Name, TAbLogType Kind);

  TStream* Stream() const { return stream_; }
  bool OwnsStream() const { return owns_stream_; }
  uint16_t OpenMode() const { return open_mode_; }

  TAbArchiveState State = stInvalid;
  std::string ArchiveFileName;
  bool SaveAfterChange = false;
  TAbArchiveItem* ActiveItem = nullptr;
  bool DosNames = false;
  TAbExtractOptions ExtractOptions = 0;
  TStream* InStream = nullptr;
  bool Dirty = false;
  bool Spanned = false;
  // Options for adding files: strip drive (1), strip path (2), remove
  // leading "..\" (4), recurse (8), freshen (16), replace (32).
  uint8_t AddOptions = 0;
  std::string TempDirectory;

  TAbArchiveItemFailureEvent OnProcessItemFailure;
  // The words of the error that failed the item OnProcessItemFailure is
  // reporting ("No space left on the device holding ..."), for a handler
  // that says more than the error class and code.
  const std::string& ItemFailureMessage() const { return item_failure_message_; }
  TAbArchiveProgressEvent OnArchiveProgress;
  TAbArchiveProgressEvent OnSaveProgress;
  TAbArchiveItemProgressEvent OnArchiveItemProgress;
  TAbArchiveItemConfirmEvent OnConfirmProcessItem;
  TAbConfirmOverwriteEvent OnConfirmOverwrite;
  // An item landed on a file an earlier item of this run wrote (the same
  // name twice in one archive): the later one replaces it, as unzip -o.
  TAbItemWarningEvent OnItemWarning;
  TAbArchiveConfirmEvent OnSaveConfirm;
  TAbArchiveEvent OnLoad;
  // Handed to the decompressors; starts as this archive's NotifyProgress.
  TAbProgressEvent OnStepProgress;
  TAbRequestImageEvent OnRequestImage;
  TAbArchiveEvent OnSaved;

 protected:
  // Makes a span stream over FileName connected to this archive, as the
  // file constructor and image switches need it.
  std::unique_ptr<TStream> OpenSpanStream(const std::string& FileName, uint16_t Mode);
  // Replaces the stream; the archive owns the new one.
  void ReplaceStream(std::unique_ptr<TStream> stream);

 private:
  void Initialize();

  TStream* stream_ = nullptr;
  std::unique_ptr<TStream> owned_stream_;
  std::string base_directory_;
  std::string host_base_directory_;
  std::string item_failure_message_;
  int32_t span_size_limit_ = 0;
  std::unique_ptr<TAbArchiveList> items_;
  std::string log_file_;
  bool logging_ = false;
  std::unique_ptr<TFileStream> log_stream_;
  uint16_t open_mode_ = 0;
  bool owns_stream_ = false;
  std::unique_ptr<TAbPadLock> lock_;
};

// Whether the item's stored name matches one mask; a drive in the mask is
// dropped, a mask without a folder matches any folder.
bool ItemMatchesMask(const TAbArchiveItem& Item, const std::string& Mask);
// Whether the item matches one of the ";"-separated masks of List.
bool ItemMatchesMaskList(const TAbArchiveItem& Item, const std::string& List);

// Turns a stored name into the target file name under BaseDirectory:
// the whole stored path with eoRestorePath, else the bare name. Creates
// missing folders with eoCreateDirs, asks OnConfirmOverwrite about an
// existing file, and stores the target in Name when the answer is yes.
// A name that would land outside BaseDirectory raises EAbException.
bool ConfirmTargetPath(const std::string& BaseDirectory, std::string& Name,
                       TAbExtractOptions Options,
                       const TAbConfirmOverwriteEvent& OnConfirmOverwrite);

// The folder names and the file name an item's stored name becomes below
// the base folder: every part with eoRestorePath (empty and "." parts
// dropped), else the bare name. A name that would land outside the base
// folder raises EAbException, as ConfirmTargetPath does. A folder item's
// name may end with a separator; its parts are all folders then.
std::vector<std::string> TargetPathParts(const std::string& Name, TAbExtractOptions Options,
                                         bool FolderItem);

}  // namespace velmora
