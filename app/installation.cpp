#include "app/installation.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "app/exec_and_wait.h"
#include "app/main_form.h"
#include "app/setup_log.h"
#include "archive/base/exceptions.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/sysutils.h"
#include "platform/win32.h"
#include "rtl/exceptions.h"
#include "rtl/format.h"

namespace velmora {
namespace {

constexpr const char* kLoosePayloadProgram = "ZIVizazazErurereRireridoz.exe";
constexpr const char* kPayloadProgram = "c:\\Program Files\\Velmora\\ZIVizazazErurereRireridoz.exe";
constexpr const char* kReadme = "c:\\Program Files\\Velmora\\Readme.txt";
constexpr const char* kClientReadme = "c:\\Program Files\\Velmora\\Client\\Readme.txt";
constexpr const char* kClientInstaller = "c:\\Program Files\\Velmora\\VelmoraClientInstall.exe";
constexpr const char* kClientFolderInstaller =
    "c:\\Program Files\\Velmora\\Client\\VelmoraClientInstall.exe";

struct Folder {
  const char* tested;
  const char* created;
  const char* failure;
};

// Each is made one level at a time, parents first.
constexpr Folder kFolders[] = {
    {"c:\\Program Files", "c:\\Program Files\\",
     "Unable to create directory \"c:\\Program Files\"!"},
    {"c:\\Program Files\\Velmora", "c:\\Program Files\\Velmora\\",
     "Unable to create directory \"c:\\Program Files\\Velmora\"!"},
    {"c:\\Program Files\\Velmora\\Temp", "c:\\Program Files\\Velmora\\Temp\\",
     "Unable to create directory \"c:\\Program Files\\Velmora\\Temp\"!"},
    {"c:\\Program Files\\Velmora\\Client", "c:\\Program Files\\Velmora\\Client\\",
     "Unable to create directory \"c:\\Program Files\\Velmora\\Client\"!"},
};

// A step whose failure does not matter: whatever it raises is dropped, and
// the result of the call in it is not looked at.
template <typename Step>
void Guarded(Step&& step) {
  try {
    step();
  } catch (...) {
  }
}

// The product's message names the Windows folder; beside it (on standard
// error and in the log) the administrator learns where that folder lies on
// this computer and the system's reason, which is what one can act on.
void ExplainFolderFailure(const char* folder, int err) {
  std::string detail;
  if (const std::optional<std::string> host = HostPath(folder)) {
    detail = Format("Cannot make \"%s\" (%s): %s", {folder, *host, std::strerror(err)});
  } else {
    // Drive C: leads nowhere: the prefix that holds it could not be laid out.
    const std::string prefix = VelmoraPrefix();
    std::error_code ec;
    std::filesystem::create_directories(prefix + "/drive_c", ec);
    detail = Format("Cannot make \"%s\": drive C: has no folder behind it (%s/drive_c: %s)",
                    {folder, prefix, ec ? ec.message() : std::string("not a folder")});
  }
  std::fprintf(stderr, "%s\n", detail.c_str());
  LogStep(detail);
}

void CreateFolders() {
  for (const Folder& folder : kFolders) {
    if (DirectoryExists(folder.tested)) {
      LogStep(std::string("Folder exists: ") + folder.tested);
    } else if (CreateDir(folder.created)) {
      LogStep(std::string("Folder created: ") + folder.tested);
    } else {
      ExplainFolderFailure(folder.tested, errno);
      throw Exception(folder.failure);
    }
  }
}

std::string ValueName(const std::string& name) { return name.empty() ? "(default)" : name; }

// Strings count their terminating zero, so the empty string is one byte.
void WriteString(HKEY key, const std::string& name, const std::string& text) {
  if (RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>(text.size() + 1)) != ERROR_SUCCESS) {
    throw Exception(Format("Failed to set data for '%s'", {name}));
  }
  LogStep("Registry value written: " + ValueName(name) + " = \"" + text + "\"");
}

void WriteInteger(HKEY key, const std::string& name, DWORD value) {
  if (RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                     sizeof value) != ERROR_SUCCESS) {
    throw Exception(Format("Failed to set data for '%s'", {name}));
  }
  char data[16];
  std::snprintf(data, sizeof data, "%08x", static_cast<unsigned>(value));
  LogStep("Registry value written: " + ValueName(name) + " = dword:" + data);
}

// The driver reads its configuration from this key only. Without the right
// to open or create it the step is skipped without a message box; standard
// error and the log say so, with the hive file and why, for the
// administrator who will find the driver unconfigured.
void WriteDriverConfiguration() {
  HKEY key = 0;
  DWORD disposition = 0;
  const LONG opened = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kDriverKey, 0, nullptr,
                                      REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                                      &disposition);
  if (opened != ERROR_SUCCESS) {
    const char* why = opened == ERROR_ACCESS_DENIED ? "it is read-only or not ours to write"
                      : opened == ERROR_BADDB       ? "it is damaged"
                                                    : "it cannot be read or written";
    const char* remedy = opened == ERROR_ACCESS_DENIED ? "make that file writable"
                         : opened == ERROR_BADDB       ? "repair that file (REGEDIT4 text)"
                                                       : "make it a file we may read and write";
    const std::string note =
        std::string("The PDF printer driver was not configured: the registry key "
                    "HKEY_LOCAL_MACHINE\\") +
        kDriverKey + " could not be opened or created in " + MachineHivePath() + " (" + why +
        "); " + remedy + " and run the installer again.";
    std::fprintf(stderr, "%s\n", note.c_str());
    LogStep(std::string("Registry key not available, driver configuration skipped: "
                        "HKEY_LOCAL_MACHINE\\") + kDriverKey + " (" + why + ")");
    return;
  }
  LogStep(std::string("Registry key opened: HKEY_LOCAL_MACHINE\\") + kDriverKey);
  try {
    WriteString(key, "", "PDF");
    WriteString(key, "AppFileName", kPayloadProgram);
    WriteInteger(key, "TransMode", 0);
    WriteInteger(key, "TagWndMsgID", 0x8000);
    WriteString(key, "TagWndClass", "");
    WriteString(key, "TagWndTitle", "TAVREL VELMORA");
    WriteString(key, "ClipboardFormat", "TAVREL VELMORA Clipboard Format");
    WriteString(key, "OutputFolder", "c:\\VelmoraTemp");
  } catch (...) {
    RegCloseKey(key);
    throw;
  }
  RegCloseKey(key);
}

// Every item lands flat in the product folder under its bare name. An
// installer whose own file holds no readable payload (cut short by a
// download, or a program built without it) would otherwise answer with the
// engine's words for an unknown archive, which tell an administrator
// nothing; a missing or empty file keeps the engine's own message.
void UnpackPayload(TAbUnZipper& unzipper, const std::string& installer_file) {
  try {
    unzipper.SetFileName(installer_file);
  } catch (const EAbUnhandledType& error) {
    LogStep("Payload not readable: " + error.Message());
    throw Exception(PayloadMissingText(ExtractFileName(installer_file)));
  }
  LogStep("Payload opened: " + installer_file);
  unzipper.SetBaseDirectory(kBaseDirectory);
  unzipper.SetArchiveKind(akSelfExtractingZip);
  // The handlers answer as the dispatchers do without one (every item
  // confirmed, a failure goes on to the next item). A failed item is said
  // on standard error too: what fails later for want of it (a program that
  // cannot be run) would otherwise hide the cause, a full disk say.
  if (SetupLogOpen()) {
    unzipper.OnConfirmProcessItem = [](void*, TAbArchiveItem* item, TAbProcessType, bool&) {
      LogStep("Unpacking item: " + item->GetStoredName());
    };
  }
  unzipper.OnProcessItemFailure = [&unzipper](void*, TAbArchiveItem* item, TAbProcessType,
                                              TAbErrorClass, int32_t code) {
    std::string text = ArchiveMessage(code);
    if (const TAbZipArchive* archive = unzipper.ZipArchive();
        archive != nullptr && !archive->ItemFailureMessage().empty()) {
      text = archive->ItemFailureMessage();
    }
    if (text.empty()) text = Format("error %d", {static_cast<int64_t>(code)});
    std::fprintf(stderr, "Could not unpack %s: %s\n", item->GetStoredName().c_str(), text.c_str());
    LogStep("Item failed: " + item->GetStoredName() + ": " + text);
  };
  unzipper.ExtractByMask("*.*");
  unzipper.OnConfirmProcessItem = nullptr;
  unzipper.OnProcessItemFailure = nullptr;
}

HINSTANCE OpenInShell(TFormMain& form, const char* path) {
  HINSTANCE result = ShellExecuteA(form.Handle(), nullptr, path, nullptr, nullptr, SW_SHOWNORMAL);
  LogStep(std::string(result > 32 ? "Opened in the shell: " : "Could not open in the shell: ") +
          path + Format(" (result %d)", {static_cast<int64_t>(result)}));
  return result;
}

void CopyLogged(const std::string& from, const std::string& to) {
  const bool copied = CopyFileA(from.c_str(), to.c_str(), false);
  LogStep((copied ? "Copied: " : "Not copied: ") + from + " -> " + to);
}

void DeleteLogged(const std::string& file) {
  const bool deleted = DeleteFileA(file.c_str());
  LogStep((deleted ? "Deleted: " : "Not deleted: ") + file);
}

// The message's lines on one line of the log.
std::string OneLine(const std::string& text) {
  std::string line = text;
  for (char& c : line) {
    if (c == '\r' || c == '\n') c = '|';
  }
  return line;
}

// A program left beside the installer replaces the unpacked one; then the
// client's files go to the client folder and are shown to the administrator.
void ArrangeClientFiles(TFormMain& form, const std::string& installer_folder) {
  const std::string loose = installer_folder + kLoosePayloadProgram;
  Guarded([&] { CopyLogged(loose, kPayloadProgram); });
  Guarded([&] { DeleteLogged(loose); });
  Guarded([&] { CopyLogged(kReadme, kClientReadme); });
  Guarded([&] { DeleteLogged(kReadme); });
  Guarded([&] {
    CopyLogged(kClientInstaller, kClientFolderInstaller);
    // Where nothing can show a folder (no desktop, or no opener installed)
    // the shell's one line on standard error is easily missed: the box
    // says it too, once, for the folder and the readme alike.
    std::string text = ClientInstructionText();
    if (OpenInShell(form, kOpenedClientFolder) == SE_ERR_NOASSOC) text += NothingToOpenText();
    LogStep("Message shown: " + OneLine(text));
    Application().InformationBox(text);
  });
  Guarded([&] { OpenInShell(form, kOpenedReadme); });
}

}  // namespace

std::string PayloadMissingText(const std::string& installer_name) {
  return "The installation data inside " + installer_name +
         " is missing or damaged; download the installer again.";
}

std::string NothingToOpenText() {
  return "\r\r"
         "Nothing on this computer could open the folder above and its Readme.txt (there is "
         "no desktop session, or no program to open them: install xdg-utils); open them "
         "yourself.";
}

std::string ClientInstructionText() {
  return "You will now have to install the Velmora Client software on each workstation "
         "connecting to this server.\r"
         "The Velmora client is located in folder :\r"
         "C:\\Program Files\\Velmora\\Client\\VelmoraClientInstall.exe\r"
         "\r"
         "In order to print, you must make absolutely sure that Adobe Acrobat Reader is also "
         "installed on each workstation connecting to this server with the Velmora Client "
         "software.";
}

namespace {
volatile std::sig_atomic_t g_under_way = 0;
}  // namespace

bool InstallationUnderWay() { return g_under_way != 0; }

void RunInstallation(TFormMain& form, const std::string& program_file) {
  struct UnderWay {
    UnderWay() { g_under_way = 1; }
    ~UnderWay() { g_under_way = 0; }
  } under_way;
  LogStep("Installation started: " + program_file);
  const std::string installer_folder = ExtractFilePath(program_file);
  CreateFolders();
  WriteDriverConfiguration();
  UnpackPayload(*form.AbUnZipper1, installer_folder + ExtractFileName(program_file));
  ArrangeClientFiles(form, installer_folder);
  // Its exit code means nothing to us; failing to start it stops here.
  LogStep(std::string("Running: ") + kVirtualPrinterInstaller + kVirtualPrinterCommandLine);
  const uint32_t exit_code = ExecAndWait(kVirtualPrinterInstaller, kVirtualPrinterCommandLine);
  LogStep(Format("Ended with exit code %d: ", {static_cast<int64_t>(exit_code)}) +
          kVirtualPrinterInstaller);
  Guarded([] { DeleteLogged(kVirtualPrinterInstaller); });
  Guarded([] { DeleteLogged(kClientInstaller); });
  Application().SetCursor(TCursor::crDefault);
  LogStep("Installation complete");
  form.btClose->Click();
}

void InstallServer(TFormMain& form) { RunInstallation(form, ProgramFileName()); }

}  // namespace velmora
