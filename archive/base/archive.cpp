#include "archive/base/archive.h"

#include <sys/stat.h>

#include <ctime>
#include <utility>

#include "archive/base/file_utils.h"
#include "archive/base/pad_lock.h"
#include "archive/base/percent.h"
#include "archive/base/span_stream.h"
#include "archive/base/split_stream.h"
#include "platform/file_stream.h"
#include "platform/paths.h"
#include "platform/sysutils.h"

namespace velmora {

namespace {

// The log kind ConfirmItem writes for each process type.
constexpr TAbLogType kLogKindOfProcess[] = {ltAdd,  ltDelete,  ltExtract,       ltFreshen,
                                            ltMove, ltReplace, ltFoundUnhandled};
static_assert(sizeof(kLogKindOfProcess) == poUnhandled + 1);

const char* LogKindText(TAbLogType kind) {
  switch (kind) {
    case ltAdd:
      return " added ";
    case ltDelete:
      return " deleted ";
    case ltExtract:
      return " extracted ";
    case ltFreshen:
      return " freshened ";
    case ltMove:
      return " moved ";
    case ltReplace:
      return " replaced ";
    case ltStart:
      return " logging ";
    case ltFoundUnhandled:
      return "Unhandled Entity";
  }
  return "Unhandled Entity";
}

[[noreturn]] void RaiseEditingUnsupported() {
  throw EAbException("Changing archives is not supported");
}

// EndBusy however the bracketed operation ends.
class BusyGuard {
 public:
  explicit BusyGuard(TAbArchive& archive) : archive_(archive) { archive_.BeginBusy(); }
  ~BusyGuard() { archive_.EndBusy(); }
  BusyGuard(const BusyGuard&) = delete;
  BusyGuard& operator=(const BusyGuard&) = delete;

 private:
  TAbArchive& archive_;
};

}  // namespace

TAbArchive::TAbArchive(const std::string& FileName, uint16_t Mode) {
  State = stInvalid;
  // The span stream asks for further images and reports writing progress
  // through the archive's own slots.
  // Byte-split parts (NAME.001, .002, ...) are read as the one file they
  // were cut from.
  const bool reading = Mode != fmCreate && (Mode & (fmOpenWrite | fmOpenReadWrite)) == 0;
  if (reading && IsByteSplitFirstPart(FileName)) {
    owned_stream_ = std::make_unique<TAbByteSplitStream>(FileName, Mode);
  } else {
    owned_stream_ = OpenSpanStream(FileName, Mode);
  }
  stream_ = owned_stream_.get();
  owns_stream_ = true;
  ArchiveFileName = FileName;
  OnStepProgress = [this](uint8_t progress, bool& abort) { NotifyProgress(progress, abort); };
  Spanned = false;
  open_mode_ = Mode;
  SetBaseDirectory(ExtractFilePath(ProgramFileName()));
  Initialize();
}

TAbArchive::TAbArchive(TStream* Stream, const std::string& ArchiveName) {
  State = stInvalid;
  ArchiveFileName = ArchiveName;
  OnStepProgress = [this](uint8_t progress, bool& abort) { NotifyProgress(progress, abort); };
  owns_stream_ = false;
  Spanned = false;
  stream_ = Stream;
  open_mode_ = 0;
  Initialize();
}

void TAbArchive::Initialize() {
  Dirty = false;
  SaveAfterChange = false;
  items_ = std::make_unique<TAbArchiveList>();
  lock_ = std::make_unique<TAbPadLock>();
  AddOptions = 0;
  ExtractOptions = 0;
  State = stIdle;
}

TAbArchive::~TAbArchive() {
  if (items_) {
    for (int i = items_->Count() - 1; i >= 0; --i) delete items_->Items(i);
    items_->Clear();
  }
}

std::unique_ptr<TStream> TAbArchive::OpenSpanStream(const std::string& FileName, uint16_t Mode) {
  auto span = std::make_unique<TAbSpanStream>(
      FileName, 0, IsRemovableDrive(FileName) ? mkRemovable : mkFixed, Mode);
  span->OnRequestImage = [this](void* sender, int32_t image, std::string& name, bool& abort) {
    RequestSpanImage(sender, image, name, abort);
  };
  span->OnArchiveProgress = [this](uint8_t progress, bool& abort) {
    NotifySaveProgress(progress, abort);
  };
  return span;
}

void TAbArchive::ReplaceStream(std::unique_ptr<TStream> stream) {
  owned_stream_ = std::move(stream);
  stream_ = owned_stream_.get();
  owns_stream_ = true;
}

void TAbArchive::NotifyItemFailure(TAbArchiveItem* Item, TAbProcessType ProcessType,
                                   TAbErrorClass ErrorClass, int32_t ErrorCode) {
  if (OnProcessItemFailure) OnProcessItemFailure(this, Item, ProcessType, ErrorClass, ErrorCode);
}

void TAbArchive::NotifySaveProgress(uint8_t Progress, bool& Abort) {
  Abort = false;
  if (OnSaveProgress) OnSaveProgress(this, Progress, Abort);
}

void TAbArchive::NotifyArchiveProgress(uint8_t Progress, bool& Abort) {
  Abort = false;
  if (OnArchiveProgress) OnArchiveProgress(this, Progress, Abort);
}

void TAbArchive::NotifyItemProgress(TAbArchiveItem* Item, uint8_t Progress, bool& Abort) {
  Abort = false;
  if (OnArchiveItemProgress) OnArchiveItemProgress(this, Item, Progress, Abort);
}

void TAbArchive::ConfirmItem(TAbArchiveItem* Item, TAbProcessType ProcessType, bool& Confirm) {
  Confirm = true;
  if (OnConfirmProcessItem) OnConfirmProcessItem(this, Item, ProcessType, Confirm);
  if (Confirm && logging_) {
    TAbLogType kind =
        ProcessType <= poUnhandled ? kLogKindOfProcess[ProcessType] : ltFoundUnhandled;
    WriteLogLine(Item->GetStoredName(), kind);
  }
}

void TAbArchive::ConfirmSave(bool& Confirm) {
  Confirm = true;
  if (OnSaveConfirm) OnSaveConfirm(this, Confirm);
}

void TAbArchive::NotifyLoad() {
  if (OnLoad) OnLoad(this);
}

void TAbArchive::NotifyProgress(uint8_t Progress, bool& Abort) {
  Abort = false;
  NotifyItemProgress(ActiveItem, Progress, Abort);
}

void TAbArchive::NotifySave() {
  if (OnSaved) OnSaved(this);
}

std::string TAbArchive::NormalizeStoredName(const std::string&) { RaiseEditingUnsupported(); }
int32_t TAbArchive::GetSpanSizeLimit() const { return span_size_limit_; }
void TAbArchive::SetSpanSizeLimit(int32_t Value) { span_size_limit_ = Value; }
void TAbArchive::AddItem(TAbArchiveItem*) { RaiseEditingUnsupported(); }
void TAbArchive::MoveItem(TAbArchiveItem*, const std::string&) { RaiseEditingUnsupported(); }

void TAbArchive::Load() {
  BeginBusy();
  try {
    ReadItems();
    State = stIdle;
  } catch (...) {
    NotifyLoad();
    EndBusy();
    throw;
  }
  NotifyLoad();
  EndBusy();
}

void TAbArchive::Save() {
  if (State == stInvalid || (!Dirty && ItemCount() > 0)) return;
  BusyGuard busy(*this);
  bool confirm = true;
  ConfirmSave(confirm);
  if (confirm) {
    WriteArchive();
    Dirty = false;
    NotifySave();
  }
}

void TAbArchive::DeflateProgressStep(uint8_t Progress) {
  bool abort = false;
  NotifyProgress(Progress, abort);
  if (abort) throw EAbAbortProgress(ArchiveMessage(AbUserAbort));
}

void TAbArchive::InflateProgressStep(int32_t Progress) {
  bool abort = false;
  NotifyProgress(static_cast<uint8_t>(Progress & 0xFF), abort);
  if (abort) throw EAbAbortProgress(ArchiveMessage(AbUserAbort));
}

void TAbArchive::RequestSpanImage(void*, int32_t, std::string&, bool&) {
  throw EAbSpanningNotSupported();
}

void TAbArchive::RequireValid() const {
  if (State == stInvalid) throw EAbNoArchive();
}

void TAbArchive::BeginBusy() {
  lock_->SetLocked(true);
  State = stBusy;
}

void TAbArchive::EndBusy() {
  if (State == stBusy) State = stIdle;
  lock_->SetLocked(false);
}

void TAbArchive::SaveIfPending(TAbArchiveItem* Item) {
  if (Item->PendingAction != iaNone) Save();
}

int TAbArchive::ItemCount() const { return items_ ? items_->Count() : 0; }

int TAbArchive::IndexOfItem(TAbArchiveItem* Item) const {
  return items_->Find(Item->GetStoredName());
}

TAbArchiveItem* TAbArchive::Items(int Index) const { return items_->Items(Index); }

void TAbArchive::ExtractByMask(const std::string& Mask) { ExtractByMaskExcept(Mask, ""); }

void TAbArchive::ExtractByMaskExcept(const std::string& Mask, const std::string& ExclusionMask) {
  RequireValid();
  if (ItemCount() == 0) return;
  bool abort = false;
  const int count = ItemCount();
  for (int i = 0; i < count; ++i) {
    TAbArchiveItem* item = Items(i);
    if (ItemMatchesMaskList(*item, Mask) && !ItemMatchesMaskList(*item, ExclusionMask)) {
      ExtractItem(i, "");
    }
    NotifyArchiveProgress(PercentOf(i + 1, ItemCount()), abort);
    if (abort) throw EAbUserAbort();
  }
  NotifyArchiveProgress(100, abort);
}

void TAbArchive::ExtractItem(int Index, const std::string& NewName) {
  RequireValid();
  TAbArchiveItem* item = Items(Index);
  SaveIfPending(item);
  BusyGuard busy(*this);
  bool confirm = true;
  ConfirmItem(item, poExtract, confirm);
  if (!confirm) return;
  std::string target = NewName.empty() ? item->GetStoredName() : NewName;
  ActiveItem = item;
  // One item's failure never stops a multi-item operation: it is reported
  // and the caller goes on with the next item.
  try {
    ExtractItemToFile(Index, target);
  } catch (const std::exception& e) {
    TAbErrorClassification c = ClassifyException(e);
    item_failure_message_ = e.what();
    NotifyItemFailure(item, poExtract, c.ErrorClass, c.ErrorCode);
  }
}

void TAbArchive::SetBaseDirectory(const std::string& Value) {
  std::string v = Value;
  // "C:\" stays as it is; "C:\dir\" loses its final backslash.
  if (v.size() > 1 && v.back() == '\\' && v[v.size() - 2] != ':') v.pop_back();
  if (!v.empty() && !IsDirectory(v)) throw EAbNoSuchDirectory();
  base_directory_ = v;
  host_base_directory_.clear();
}

void TAbArchive::SetHostBaseDirectory(const std::string& HostFolder) {
  struct stat st {};
  if (HostFolder.empty() || ::stat(HostFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    throw EAbNoSuchDirectory();
  }
  host_base_directory_ = HostFolder;
  base_directory_ = WindowsPath(HostFolder);
}

void TAbArchive::SetLogging(bool Value) {
  logging_ = Value;
  log_stream_.reset();
  if (!logging_ || log_file_.empty()) return;
  try {
    log_stream_ = std::make_unique<TFileStream>(log_file_, fmCreate);
  } catch (const std::exception&) {
    throw EAbException(ArchiveMessage(AbLogCreateError), AbLogCreateError);
  }
  WriteLogLine(ArchiveFileName, ltStart);
}

void TAbArchive::WriteLogLine(const std::string& Name, TAbLogType Kind) {
  if (!log_stream_) return;
  // The system's short date and long time, as the locale gives them.
  char stamp[96] = {};
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(stamp, sizeof stamp, "%x %X", &local);
  std::string line = Name + LogKindText(Kind) + stamp + "\r\n";
  log_stream_->WriteBuffer(line.data(), static_cast<int32_t>(line.size()));
}

}  // namespace velmora
