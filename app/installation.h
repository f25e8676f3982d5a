// The installation procedure behind the Install button: the folder tree,
// the PDF virtual printer driver's registry key, the payload unpacked from
// the installer's own file, the client files, the folder, message and readme
// shown to the administrator, the virtual printer installer run and waited
// for, the installers removed, and the window closed.
#pragma once

#include <string>

namespace velmora {

class TFormMain;

// The fixed places and values.
inline constexpr const char* kBaseDirectory = "c:\\Program Files\\Velmora\\";
inline constexpr const char* kOpenedClientFolder = "C:\\Program Files\\Velmora\\Client\\";
inline constexpr const char* kOpenedReadme = "C:\\Program Files\\Velmora\\Client\\Readme.txt";
inline constexpr const char* kVirtualPrinterInstaller =
    "c:\\Program Files\\Velmora\\VelmoraVirtualPrinter.exe";
inline constexpr const char* kVirtualPrinterCommandLine = " /VERYSILENT /DISABLEPOPS";
inline constexpr const char* kDriverKey =
    "Software\\ActMask PDF Virtual Printer SDK Terminal Services Edition";

// The message shown once the client folder is open: five lines joined by a
// lone CR, the fourth empty.
std::string ClientInstructionText();

// Added to the client message when the client folder could not be opened
// because nothing can open folders and documents here.
std::string NothingToOpenText();

// The error shown when the installer's own file holds no payload it can
// read, naming the file.
std::string PayloadMissingText(const std::string& installer_name);

// The whole procedure for the installer whose own file is program_file (a
// Windows path): its folder is where a loose
// "ZIVizazazErurereRireridoz.exe" is taken from, and the file itself is the
// archive unpacked. Essential steps raise and stop it; moves, shell opens
// and deletions drop their errors. The last step presses the form's Close.
void RunInstallation(TFormMain& form, const std::string& program_file);
// Whether RunInstallation is running; safe to ask from a signal handler.
bool InstallationUnderWay();

// InstallServer (main_form.h) is RunInstallation for the running program.

}  // namespace velmora
