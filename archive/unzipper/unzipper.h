// TAbUnZipper, the component through which the installer uses the archive
// engine: writing FileName opens an archive of the detected kind, connects
// the component's settings and events to it and reads its directory;
// ExtractByMask then unpacks the matching items into BaseDirectory.
//
// The chain: TComponent -> TAbBaseComponent (Version) -> TAbBaseBrowser (the
// open archive, common settings and events) -> TAbCustomZipBrowser (ZIP
// settings, the opening logic) -> TAbCustomUnZipper (extraction) ->
// TAbUnZipper (the published class, no behaviour of its own).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "archive/base/archive.h"
#include "archive/unzipper/archive_kind.h"
#include "archive/unzipper/component.h"
#include "rtl/events.h"
#include "archive/zip/zip_archive.h"

namespace velmora {

// A progress display the browser drives: ShowProgress with 0..100, and
// ResetMeter before an item.
class TAbMeterLink : public TComponent {
 public:
  using TComponent::TComponent;
  virtual void ShowProgress(uint8_t Progress) = 0;
  virtual void ResetMeter() = 0;
};

class TAbBaseComponent : public TComponent {
 public:
  using TComponent::TComponent;
  // Always "3.05"; writing it changes nothing.
  std::string Version() const { return "3.05"; }
  void SetVersion(const std::string& /*Value*/) {}
};

class TAbBaseBrowser : public TAbBaseComponent {
 public:
  explicit TAbBaseBrowser(TComponent* Owner = nullptr);
  // Frees the open archive.
  ~TAbBaseBrowser() override;

  TAbArchive* Archive() const { return archive_.get(); }
  // The open archive's state; stInvalid when none is open.
  TAbArchiveState Status() const;

  TAbArchiveKind ArchiveKind() const { return archive_kind_; }
  // Raises EAbArchiveBusy while the open archive is busy; never reopens.
  void SetArchiveKind(TAbArchiveKind Value);
  bool ForceKind = false;

  const std::string& FileName() const { return file_name_; }
  virtual void SetFileName(const std::string& Value) = 0;

  const std::string& BaseDirectory() const { return base_directory_; }
  // With an archive open, the archive validates the folder and the
  // component keeps the archive's stored form (no trailing "\").
  void SetBaseDirectory(const std::string& Value);

  const std::string& LogFile() const { return log_file_; }
  void SetLogFile(const std::string& Value);
  bool Logging() const { return logging_; }
  void SetLogging(bool Value);
  const std::string& TempDirectory() const { return temp_directory_; }
  void SetTempDirectory(const std::string& Value);
  int32_t SpanSizeLimit() const { return span_size_limit_; }
  void SetSpanSizeLimit(int32_t Value) { span_size_limit_ = Value; }

  TAbMeterLink* ItemProgressMeter() const { return item_meter_; }
  void SetItemProgressMeter(TAbMeterLink* Value);
  TAbMeterLink* ArchiveProgressMeter() const { return archive_meter_; }
  void SetArchiveProgressMeter(TAbMeterLink* Value);

  TAbArchiveProgressEvent OnArchiveProgress;
  TAbArchiveItemProgressEvent OnArchiveItemProgress;
  TNotifyEvent OnChange;
  TAbArchiveItemConfirmEvent OnConfirmProcessItem;
  TAbArchiveEvent OnLoad;
  TAbArchiveItemFailureEvent OnProcessItemFailure;
  const TAbRequestImageEvent& OnRequestImage() const { return on_request_image_; }
  virtual void SetOnRequestImage(TAbRequestImageEvent Value);

  void Loaded() override;
  void Notification(TComponent* Component, TOperation Operation) override;

  // The dispatchers the open archive's notifications are hooked to.
  virtual void ResetMeters();
  virtual void FireArchiveItemProgress(void* Sender, TAbArchiveItem* Item, uint8_t Progress,
                                       bool& Abort);
  virtual void FireArchiveProgress(void* Sender, uint8_t Progress, bool& Abort);
  virtual void FireChange();
  virtual void FireConfirmProcessItem(void* Sender, TAbArchiveItem* Item,
                                      TAbProcessType ProcessType, bool& Confirm);
  virtual void FireLoad(void* Sender);
  virtual void FireProcessItemFailure(void* Sender, TAbArchiveItem* Item,
                                      TAbProcessType ProcessType, TAbErrorClass ErrorClass,
                                      int32_t ErrorCode);

 protected:
  // Forwards the settings and hooks the events into a newly made archive;
  // each subclass adds its part after its parent's.
  virtual void ConnectArchive();
  // The TAbBaseBrowser part alone (kinds other than ZIP use only this).
  void ConnectBaseArchive();
  bool Designing() const { return (ComponentState & csDesigning) != 0; }
  void CloseArchive();

  std::unique_ptr<TAbArchive> archive_;
  TAbArchiveKind archive_kind_ = akUnknown;
  std::string file_name_;

 private:
  int32_t span_size_limit_ = 0;
  TAbMeterLink* item_meter_ = nullptr;
  TAbMeterLink* archive_meter_ = nullptr;
  std::string base_directory_;
  std::string log_file_;
  bool logging_ = false;
  std::string temp_directory_;
  TAbRequestImageEvent on_request_image_;
};

class TAbCustomZipBrowser : public TAbBaseBrowser {
 public:
  using TAbBaseBrowser::TAbBaseBrowser;

  // Closes the open archive (saving it first, errors dropped), then opens
  // Value as the detected (or forced) kind and reads its directory.
  void SetFileName(const std::string& Value) override;

  const std::string& Password() const { return password_; }
  // Forwarded to the open archive, which must be a ZIP archive (else
  // EInvalidCast).
  void SetPassword(const std::string& Value);
  const TAbRequestDiskEvent& OnRequestLastDisk() const { return on_request_last_disk_; }
  void SetOnRequestLastDisk(TAbRequestDiskEvent Value);
  const TAbRequestNthDiskEvent& OnRequestNthDisk() const { return on_request_nth_disk_; }
  void SetOnRequestNthDisk(TAbRequestNthDiskEvent Value);
  // Forwarded to gzip archives, which this build does not open.
  bool AutoHandleTar = false;

  // The open archive's item at Index; EAbNoArchive when none is open.
  TAbArchiveItem* GetItem(int Index) const;
  TAbZipArchive* ZipArchive() const;

 protected:
  void ConnectArchive() override;
  // A step kept for subclasses; the ZIP browser itself does nothing here.
  virtual void ArchiveHook() {}

 private:
  std::string password_;
  TAbRequestDiskEvent on_request_last_disk_;
  TAbRequestNthDiskEvent on_request_nth_disk_;
};

class TAbCustomUnZipper : public TAbCustomZipBrowser {
 public:
  explicit TAbCustomUnZipper(TComponent* Owner = nullptr);

  // Refuses a missing ("File not found") or empty ("Invalid Stream") file
  // before anything changes, then opens it.
  void SetFileName(const std::string& Value) override;

  TAbExtractOptions ExtractOptions() const { return extract_options_; }
  void SetExtractOptions(TAbExtractOptions Value);
  uint8_t PasswordRetries() const { return password_retries_; }
  void SetPasswordRetries(uint8_t Value);

  TAbConfirmOverwriteEvent OnConfirmOverwrite;
  TAbNeedPasswordEvent OnNeedPassword;

  // EAbNoArchive when no archive is open.
  void ExtractByMask(const std::string& Mask);

  virtual void FireConfirmOverwrite(std::string& Name, bool& Confirm);
  virtual void FireNeedPassword(void* Sender, std::string& NewPassword);

 protected:
  void ConnectArchive() override;

 private:
  TAbExtractOptions extract_options_ = 0;
  uint8_t password_retries_ = 0;
};

class TAbUnZipper : public TAbCustomUnZipper {
 public:
  using TAbCustomUnZipper::TAbCustomUnZipper;
};

}  // namespace velmora
