#include "archive/unzipper/unzipper.h"

#include "archive/base/file_info.h"
#include "archive/zip/zip_extract.h"
#include "platform/sysutils.h"

namespace velmora {

// ---- TAbBaseBrowser --------------------------------------------------------

TAbBaseBrowser::TAbBaseBrowser(TComponent* Owner) : TAbBaseComponent(Owner) {}

TAbBaseBrowser::~TAbBaseBrowser() { archive_.reset(); }

TAbArchiveState TAbBaseBrowser::Status() const {
  return archive_ ? archive_->State : stInvalid;
}

void TAbBaseBrowser::SetArchiveKind(TAbArchiveKind Value) {
  if (archive_ && archive_->State == stBusy) throw EAbArchiveBusy();
  archive_kind_ = Value;
}

void TAbBaseBrowser::SetBaseDirectory(const std::string& Value) {
  if (archive_) {
    archive_->SetBaseDirectory(Value);
    base_directory_ = archive_->BaseDirectory();
  } else {
    base_directory_ = Value;
  }
}

void TAbBaseBrowser::SetLogFile(const std::string& Value) {
  log_file_ = Value;
  if (Designing()) return;
  if (archive_) archive_->SetLogFile(Value);
  SetLogging(!Value.empty());
}

void TAbBaseBrowser::SetLogging(bool Value) {
  logging_ = Value;
  if (Designing()) return;
  if (archive_) archive_->SetLogging(Value);
}

void TAbBaseBrowser::SetTempDirectory(const std::string& Value) {
  temp_directory_ = Value;
  if (archive_) archive_->TempDirectory = Value;
}

void TAbBaseBrowser::SetItemProgressMeter(TAbMeterLink* Value) {
  item_meter_ = Value;
  if (Value) Value->FreeNotification(this);
}

void TAbBaseBrowser::SetArchiveProgressMeter(TAbMeterLink* Value) {
  archive_meter_ = Value;
  if (Value) Value->FreeNotification(this);
}

void TAbBaseBrowser::SetOnRequestImage(TAbRequestImageEvent Value) {
  on_request_image_ = std::move(Value);
  if (archive_) archive_->OnRequestImage = on_request_image_;
}

void TAbBaseBrowser::Loaded() {
  TAbBaseComponent::Loaded();
  FireChange();
}

void TAbBaseBrowser::Notification(TComponent* Component, TOperation Operation) {
  TAbBaseComponent::Notification(Component, Operation);
  if (Operation != opRemove) return;
  if (Component == item_meter_) {
    item_meter_ = nullptr;
  } else if (Component == archive_meter_) {
    archive_meter_ = nullptr;
  }
}

void TAbBaseBrowser::ResetMeters() {
  if (archive_meter_) archive_meter_->ResetMeter();
  if (item_meter_) item_meter_->ResetMeter();
}

void TAbBaseBrowser::FireArchiveItemProgress(void* /*Sender*/, TAbArchiveItem* Item,
                                             uint8_t Progress, bool& Abort) {
  Abort = false;
  if (item_meter_) item_meter_->ShowProgress(Progress);
  if (OnArchiveItemProgress) OnArchiveItemProgress(this, Item, Progress, Abort);
}

void TAbBaseBrowser::FireArchiveProgress(void* /*Sender*/, uint8_t Progress, bool& Abort) {
  Abort = false;
  if (archive_meter_) archive_meter_->ShowProgress(Progress);
  if (OnArchiveProgress) OnArchiveProgress(this, Progress, Abort);
}

void TAbBaseBrowser::FireChange() {
  if (OnChange) OnChange(this);
}

void TAbBaseBrowser::FireConfirmProcessItem(void* /*Sender*/, TAbArchiveItem* Item,
                                            TAbProcessType ProcessType, bool& Confirm) {
  Confirm = true;
  if (item_meter_) item_meter_->ResetMeter();
  if (OnConfirmProcessItem) OnConfirmProcessItem(this, Item, ProcessType, Confirm);
}

void TAbBaseBrowser::FireLoad(void* /*Sender*/) {
  if (OnLoad) OnLoad(this);
}

void TAbBaseBrowser::FireProcessItemFailure(void* /*Sender*/, TAbArchiveItem* Item,
                                            TAbProcessType ProcessType,
                                            TAbErrorClass ErrorClass, int32_t ErrorCode) {
  if (OnProcessItemFailure) OnProcessItemFailure(this, Item, ProcessType, ErrorClass, ErrorCode);
}

void TAbBaseBrowser::ConnectArchive() { ConnectBaseArchive(); }

void TAbBaseBrowser::ConnectBaseArchive() {
  ResetMeters();
  if (!archive_) return;
  TAbArchive& archive = *archive_;
  archive.SetSpanSizeLimit(span_size_limit_);
  archive.SetLogFile(log_file_);
  archive.SetLogging(logging_);
  archive.TempDirectory = temp_directory_;
  // Through the setter: the archive validates the folder, and an empty one
  // replaces the archive's own start value (the program's folder).
  SetBaseDirectory(base_directory_);
  archive.OnArchiveProgress = [this](void* sender, uint8_t progress, bool& abort) {
    FireArchiveProgress(sender, progress, abort);
  };
  archive.OnArchiveItemProgress = [this](void* sender, TAbArchiveItem* item, uint8_t progress,
                                         bool& abort) {
    FireArchiveItemProgress(sender, item, progress, abort);
  };
  archive.OnConfirmProcessItem = [this](void* sender, TAbArchiveItem* item,
                                        TAbProcessType type, bool& confirm) {
    FireConfirmProcessItem(sender, item, type, confirm);
  };
  archive.OnLoad = [this](void* sender) { FireLoad(sender); };
  archive.OnProcessItemFailure = [this](void* sender, TAbArchiveItem* item, TAbProcessType type,
                                        TAbErrorClass error_class, int32_t code) {
    FireProcessItemFailure(sender, item, type, error_class, code);
  };
  archive.OnRequestImage = on_request_image_;
}

void TAbBaseBrowser::CloseArchive() {
  if (!archive_) return;
  try {
    archive_->Save();
  } catch (const std::exception&) {
    // A failed save of the old archive must not stop the new one opening.
  }
  archive_.reset();
}

// ---- TAbCustomZipBrowser ---------------------------------------------------

TAbZipArchive* TAbCustomZipBrowser::ZipArchive() const {
  return dynamic_cast<TAbZipArchive*>(archive_.get());
}

void TAbCustomZipBrowser::SetPassword(const std::string& Value) {
  password_ = Value;
  if (!archive_) return;
  TAbZipArchive* zip = ZipArchive();
  if (!zip) throw EInvalidCast();
  zip->Password = Value;
}

void TAbCustomZipBrowser::SetOnRequestLastDisk(TAbRequestDiskEvent Value) {
  on_request_last_disk_ = std::move(Value);
  if (!archive_) return;
  TAbZipArchive* zip = ZipArchive();
  if (!zip) throw EInvalidCast();
  zip->OnRequestLastDisk = on_request_last_disk_;
}

void TAbCustomZipBrowser::SetOnRequestNthDisk(TAbRequestNthDiskEvent Value) {
  on_request_nth_disk_ = std::move(Value);
  if (!archive_) return;
  TAbZipArchive* zip = ZipArchive();
  if (!zip) throw EInvalidCast();
  zip->OnRequestNthDisk = on_request_nth_disk_;
}

TAbArchiveItem* TAbCustomZipBrowser::GetItem(int Index) const {
  if (!archive_) throw EAbNoArchive();
  return archive_->Items(Index);
}

void TAbCustomZipBrowser::ConnectArchive() {
  TAbBaseBrowser::ConnectArchive();
  if (TAbZipArchive* zip = ZipArchive()) {
    zip->Password = password_;
    zip->OnRequestLastDisk = on_request_last_disk_;
    zip->OnRequestNthDisk = on_request_nth_disk_;
  }
}

// Open mode of an archive: read access, other handles may read and write.
constexpr uint16_t kArchiveOpenMode = fmOpenRead | fmShareDenyNone;

void TAbCustomZipBrowser::SetFileName(const std::string& Value) {
  file_name_ = Value;
  if (Designing()) return;
  CloseArchive();
  if (!Value.empty() && FileExists(Value)) {
    const TAbArchiveKind kind = ForceKind ? archive_kind_ : DetectArchiveKind(file_name_);
    switch (kind) {
      case akZip:
      case akSpannedZip:
      case akSelfExtractingZip:
        archive_ = std::make_unique<TAbZipArchive>(file_name_, kArchiveOpenMode);
        ConnectArchive();  // the whole chain, through the virtual slot
        break;
      default:
        // tar, gzip and cabinet archives are not read by this engine.
        throw EAbUnhandledType();
    }
    // A failed load leaves the archive open and the kind as it was.
    archive_->Load();
    archive_kind_ = kind;
  }
  FireChange();
}

// ---- TAbCustomUnZipper -----------------------------------------------------

TAbCustomUnZipper::TAbCustomUnZipper(TComponent* Owner) : TAbCustomZipBrowser(Owner) {
  SetExtractOptions(eoCreateDirs);
  SetPasswordRetries(3);
}

void TAbCustomUnZipper::SetFileName(const std::string& Value) {
  if (!Value.empty()) {
    if (!FileExists(Value)) throw EAbFileNotFound();
    if (FileSizeOf(Value) <= 0) throw EAbBadStream();
  }
  TAbCustomZipBrowser::SetFileName(Value);
}

void TAbCustomUnZipper::SetExtractOptions(TAbExtractOptions Value) {
  extract_options_ = Value;
  if (archive_) archive_->ExtractOptions = Value;
}

void TAbCustomUnZipper::SetPasswordRetries(uint8_t Value) {
  password_retries_ = Value;
  if (TAbZipArchive* zip = ZipArchive()) zip->PasswordRetries = Value;
}

void TAbCustomUnZipper::ExtractByMask(const std::string& Mask) {
  if (!archive_) throw EAbNoArchive();
  archive_->ExtractByMask(Mask);
}

void TAbCustomUnZipper::FireConfirmOverwrite(std::string& Name, bool& Confirm) {
  Confirm = true;
  if (OnConfirmOverwrite) OnConfirmOverwrite(Name, Confirm);
}

void TAbCustomUnZipper::FireNeedPassword(void* /*Sender*/, std::string& NewPassword) {
  if (!OnNeedPassword) return;
  OnNeedPassword(this, NewPassword);
  SetPassword(NewPassword);
}

void TAbCustomUnZipper::ConnectArchive() {
  TAbCustomZipBrowser::ConnectArchive();
  if (!archive_) return;
  archive_->ExtractOptions = extract_options_;
  archive_->OnConfirmOverwrite = [this](std::string& name, bool& confirm) {
    FireConfirmOverwrite(name, confirm);
  };
  TAbZipArchive* zip = ZipArchive();
  if (!zip) return;
  zip->PasswordRetries = password_retries_;
  zip->OnNeedPassword = [this](void* sender, std::string& password) {
    FireNeedPassword(sender, password);
  };
  zip->ExtractFileCallback = UnzipItemToFile;
  zip->ExtractStreamCallback = UnzipItemToStream;
  zip->TestCallback = TestZipItem;
}

}  // namespace velmora
