#include "app/installation.h"

#include "app/exec_and_wait.h"
#include "app/main_form.h"
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

void CreateFolders() {
  for (const Folder& folder : kFolders) {
    if (!DirectoryExists(folder.tested) && !CreateDir(folder.created)) {
      throw Exception(folder.failure);
    }
  }
}

// Strings count their terminating zero, so the empty string is one byte.
void WriteString(HKEY key, const std::string& name, const std::string& text) {
  if (RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>(text.size() + 1)) != ERROR_SUCCESS) {
    throw Exception(Format("Failed to set data for '%s'", {name}));
  }
}

void WriteInteger(HKEY key, const std::string& name, DWORD value) {
  if (RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                     sizeof value) != ERROR_SUCCESS) {
    throw Exception(Format("Failed to set data for '%s'", {name}));
  }
}

// The driver reads its configuration from this key only. Without the right
// to open or create it the step is skipped without a word.
void WriteDriverConfiguration() {
  HKEY key = 0;
  DWORD disposition = 0;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kDriverKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &key, &disposition) != ERROR_SUCCESS) {
    return;
  }
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
  } catch (const EAbUnhandledType&) {
    throw Exception(PayloadMissingText(ExtractFileName(installer_file)));
  }
  unzipper.SetBaseDirectory(kBaseDirectory);
  unzipper.SetArchiveKind(akSelfExtractingZip);
  unzipper.ExtractByMask("*.*");
}

void OpenInShell(TFormMain& form, const char* path) {
  ShellExecuteA(form.Handle(), nullptr, path, nullptr, nullptr, SW_SHOWNORMAL);
}

// A program left beside the installer replaces the unpacked one; then the
// client's files go to the client folder and are shown to the administrator.
void ArrangeClientFiles(TFormMain& form, const std::string& installer_folder) {
  const std::string loose = installer_folder + kLoosePayloadProgram;
  Guarded([&] { CopyFileA(loose.c_str(), kPayloadProgram, false); });
  Guarded([&] { DeleteFileA(loose.c_str()); });
  Guarded([&] { CopyFileA(kReadme, kClientReadme, false); });
  Guarded([&] { DeleteFileA(kReadme); });
  Guarded([&] {
    CopyFileA(kClientInstaller, kClientFolderInstaller, false);
    OpenInShell(form, kOpenedClientFolder);
    Application().InformationBox(ClientInstructionText());
  });
  Guarded([&] { OpenInShell(form, kOpenedReadme); });
}

}  // namespace

std::string PayloadMissingText(const std::string& installer_name) {
  return "The installation data inside " + installer_name +
         " is missing or damaged; download the installer again.";
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

void RunInstallation(TFormMain& form, const std::string& program_file) {
  const std::string installer_folder = ExtractFilePath(program_file);
  CreateFolders();
  WriteDriverConfiguration();
  UnpackPayload(*form.AbUnZipper1, installer_folder + ExtractFileName(program_file));
  ArrangeClientFiles(form, installer_folder);
  // Its exit code means nothing to us; failing to start it stops here.
  ExecAndWait(kVirtualPrinterInstaller, kVirtualPrinterCommandLine);
  Guarded([] { DeleteFileA(kVirtualPrinterInstaller); });
  Guarded([] { DeleteFileA(kClientInstaller); });
  Application().SetCursor(TCursor::crDefault);
  form.btClose->Click();
}

void InstallServer(TFormMain& form) { RunInstallation(form, ProgramFileName()); }

}  // namespace velmora
