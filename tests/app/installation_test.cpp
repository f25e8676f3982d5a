#include "app/installation.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "rtl/exceptions.h"
#include "tests/app/installer_fixture.h"

namespace velmora {
namespace {

const std::string kDriverHive =
    "REGEDIT4\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\ActMask PDF Virtual Printer SDK Terminal Services "
    "Edition]\r\n"
    "@=\"PDF\"\r\n"
    "\"AppFileName\"=\"c:\\\\Program Files\\\\Velmora\\\\ZIVizazazErurereRireridoz.exe\"\r\n"
    "\"TransMode\"=dword:00000000\r\n"
    "\"TagWndMsgID\"=dword:00008000\r\n"
    "\"TagWndClass\"=\"\"\r\n"
    "\"TagWndTitle\"=\"TAVREL VELMORA\"\r\n"
    "\"ClipboardFormat\"=\"TAVREL VELMORA Clipboard Format\"\r\n"
    "\"OutputFolder\"=\"c:\\\\VelmoraTemp\"\r\n"
    "\r\n";

const std::string kPrinterRun = "VelmoraVirtualPrinter.exe /VERYSILENT /DISABLEPOPS\n";

using Installation = InstallerTest;

TEST_F(Installation, SetsUpTheProductShowsTheClientAndCloses) {
  PlacePayload();
  const std::string installer = MakeInstallerFile();
  std::string opened_when_asked;
  widgets_->on_box = [&] { opened_when_asked = WaitForOpened(1); };
  TFormMain form;
  RunInstallation(form, Win(installer));

  for (const char* folder : {"", "Temp", "Client"}) {
    EXPECT_TRUE(std::filesystem::is_directory(Product(folder))) << folder;
  }
  EXPECT_EQ(ReadHostFile(prefix_ + "/system.reg"), kDriverHive);
  EXPECT_EQ(ReadHostFile(Product("Client/Readme.txt")), ReadHostFile(BuiltPayload("Readme.txt")));
  EXPECT_TRUE(HostExists(Product("Client/VelmoraClientInstall.exe")));
  EXPECT_TRUE(HostExists(Product("ZIVizazazErurereRireridoz.exe")));
  for (const char* removed :
       {"Readme.txt", "VelmoraVirtualPrinter.exe", "VelmoraClientInstall.exe"}) {
    EXPECT_FALSE(HostExists(Product(removed))) << removed;
  }
  EXPECT_EQ(ReadHostFile(prefix_ + "/standins.log"), kPrinterRun);

  // The folder is open before the message, the readme after it.
  ASSERT_EQ(widgets_->boxes.size(), 1u);
  EXPECT_EQ(widgets_->boxes[0].text, ClientInstructionText());
  EXPECT_EQ(widgets_->boxes[0].caption, "Velmora - Server");
  EXPECT_EQ(widgets_->boxes[0].type, MB_OK);
  EXPECT_EQ(opened_when_asked, Product("Client") + "\n");
  EXPECT_EQ(WaitForOpened(2), Product("Client") + "\n" + Product("Client/Readme.txt") + "\n");

  EXPECT_EQ(form.AbUnZipper1->FileName(), Win(installer));
  EXPECT_EQ(widgets_->cursors, std::vector<TCursor>{TCursor::crDefault});
  EXPECT_TRUE(form.Closed());
}

// The box breaks lines at lone CRs, as Windows message boxes do, and its
// third line is where the administrator finds the client installer.
TEST_F(Installation, InstructionsNameTheClientInstallerWhereItWasPut) {
  PlacePayload();
  TFormMain form;
  RunInstallation(form, Win(MakeInstallerFile()));
  ASSERT_EQ(widgets_->boxes.size(), 1u);
  const std::string& text = widgets_->boxes[0].text;
  EXPECT_EQ(text.find('\n'), std::string::npos);
  std::vector<std::string> lines(1);
  for (char c : text) {
    if (c == '\r') {
      lines.emplace_back();
    } else {
      lines.back() += c;
    }
  }
  ASSERT_EQ(lines.size(), 5u) << text;
  EXPECT_TRUE(lines[3].empty());  // a blank line before the note on printing
  EXPECT_NE(lines[4].find("Adobe Acrobat Reader"), std::string::npos);
  EXPECT_EQ(lines[2], "C:\\Program Files\\Velmora\\Client\\VelmoraClientInstall.exe");
  const std::optional<std::string> client = HostPath(lines[2]);
  ASSERT_TRUE(client.has_value()) << lines[2];
  EXPECT_TRUE(HostExists(*client)) << *client;
}

TEST_F(Installation, WhereNothingCanOpenTheFolderTheMessageSaysSoOnce) {
  PlacePayload();
  const std::string installer = MakeInstallerFile();
  // No opener and no desktop: the shell cannot show the folder or the readme.
  opener_env_.reset();
  ScopedEnv no_opener("VELMORA_SHELL_OPEN", std::nullopt);
  ScopedEnv no_x("DISPLAY", std::nullopt);
  ScopedEnv no_wayland("WAYLAND_DISPLAY", std::nullopt);
  TFormMain form;
  RunInstallation(form, Win(installer));
  ASSERT_EQ(widgets_->boxes.size(), 1u);
  EXPECT_EQ(widgets_->boxes[0].text, ClientInstructionText() + NothingToOpenText());
  EXPECT_NE(NothingToOpenText().find("install xdg-utils"), std::string::npos);
  EXPECT_TRUE(form.Closed());
}

TEST_F(Installation, UnpacksItsOwnPayloadFlatIntoTheProductFolder) {
  // The finished installer, run from a folder of its own.
  std::filesystem::create_directories(Scratch("setup"));
  const std::string installer = Scratch("setup/velmora-server-setup");
  std::filesystem::copy_file(std::string(VELMORA_BINARY_DIR) + "/bin/velmora-server-setup",
                             installer);
  TFormMain form;
  RunInstallation(form, Win(installer));
  EXPECT_EQ(ReadHostFile(Product("ZIVizazazErurereRireridoz.exe")),
            ReadHostFile(BuiltPayload("ZIVizazazErurereRireridoz.exe")));
  EXPECT_EQ(ReadHostFile(Product("Client/Readme.txt")), ReadHostFile(BuiltPayload("Readme.txt")));
  EXPECT_EQ(ReadHostFile(Product("Client/VelmoraClientInstall.exe")),
            ReadHostFile(BuiltPayload("VelmoraClientInstall.exe")));
  // The items' folders are not made: everything lies flat.
  EXPECT_FALSE(HostExists(Product("Release")));
  EXPECT_EQ(ReadHostFile(prefix_ + "/standins.log"), kPrinterRun);
  EXPECT_TRUE(form.Closed());
}

TEST_F(Installation, WritesTheDriverValuesWithTheirExactTypesAndSizes) {
  PlacePayload();
  TFormMain form;
  RunInstallation(form, Win(MakeInstallerFile()));
  HKEY key = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDriverKey, 0, KEY_READ, &key), ERROR_SUCCESS);
  struct Expected {
    const char* name;
    DWORD type;
    std::string data;
  };
  const Expected values[] = {
      {"", REG_SZ, std::string("PDF\0", 4)},
      {"AppFileName", REG_SZ,
       std::string("c:\\Program Files\\Velmora\\ZIVizazazErurereRireridoz.exe\0", 55)},
      {"TransMode", REG_DWORD, std::string("\0\0\0\0", 4)},
      {"TagWndMsgID", REG_DWORD, std::string("\0\x80\0\0", 4)},
      {"TagWndClass", REG_SZ, std::string("\0", 1)},
      {"TagWndTitle", REG_SZ, std::string("TAVREL VELMORA\0", 15)},
      {"ClipboardFormat", REG_SZ, std::string("TAVREL VELMORA Clipboard Format\0", 32)},
      {"OutputFolder", REG_SZ, std::string("c:\\VelmoraTemp\0", 15)},
  };
  for (const auto& value : values) {
    DWORD type = 0, size = 64;
    char data[64];
    ASSERT_EQ(RegQueryValueExA(key, value.name, nullptr, &type, reinterpret_cast<BYTE*>(data),
                               &size),
              ERROR_SUCCESS)
        << value.name;
    EXPECT_EQ(type, value.type) << value.name;
    EXPECT_EQ(std::string(data, size), value.data) << value.name;
  }
  RegCloseKey(key);
}

TEST_F(Installation, AProgramBesideTheInstallerReplacesTheUnpackedOne) {
  PlacePayload();
  const std::string installer = MakeInstallerFile();
  WriteHostFile(Scratch("setup/ZIVizazazErurereRireridoz.exe"), "the newer program");
  TFormMain form;
  RunInstallation(form, Win(installer));
  EXPECT_EQ(ReadHostFile(Product("ZIVizazazErurereRireridoz.exe")), "the newer program");
  EXPECT_FALSE(HostExists(Scratch("setup/ZIVizazazErurereRireridoz.exe")));
  EXPECT_TRUE(form.Closed());
}

TEST_F(Installation, AFolderThatCannotBeCreatedIsReportedAndInstallWorksAgain) {
  std::filesystem::create_directories(DriveC("Program Files"));
  WriteHostFile(DriveC("Program Files/Velmora"), "a file where the folder should be");
  TFormMain form;
  Application().DispatchClick(*form.btInstall);
  ASSERT_EQ(widgets_->boxes.size(), 1u);
  // No full stop: the message ends in "!".
  EXPECT_EQ(widgets_->boxes[0].text, "Unable to create directory \"c:\\Program Files\\Velmora\"!");
  EXPECT_EQ(widgets_->boxes[0].type, MB_OK | MB_ICONERROR);
  EXPECT_FALSE(form.Closed());
  EXPECT_FALSE(HostExists(prefix_ + "/system.reg"));
  EXPECT_TRUE(widgets_->cursors.empty());

  std::filesystem::remove(DriveC("Program Files/Velmora"));
  PlacePayload();
  widgets_->boxes.clear();
  RunInstallation(form, Win(MakeInstallerFile()));
  EXPECT_EQ(widgets_->boxes.size(), 1u);
  EXPECT_EQ(ReadHostFile(prefix_ + "/standins.log"), kPrinterRun);
  EXPECT_TRUE(form.Closed());
}

TEST_F(Installation, AnUnwritableHiveSkipsTheDriverStepAndTheRestCompletes) {
  const std::string hive = prefix_ + "/system.reg";
  WriteHostFile(hive, "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n\"A\"=\"b\"\r\n\r\n");
  ASSERT_EQ(::chmod(hive.c_str(), 0444), 0);
  const std::string before = ReadHostFile(hive);
  PlacePayload();
  TFormMain form;
  RunInstallation(form, Win(MakeInstallerFile()));
  EXPECT_EQ(ReadHostFile(hive), before);
  EXPECT_TRUE(widgets_->boxes.size() == 1 && widgets_->boxes[0].text == ClientInstructionText());
  EXPECT_EQ(ReadHostFile(prefix_ + "/standins.log"), kPrinterRun);
  EXPECT_TRUE(form.Closed());
}

TEST_F(Installation, ACorruptHiveIsLeftAsItIs) {
  const std::string hive = prefix_ + "/system.reg";
  const std::string corrupt = "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\r\n\"half a line";
  WriteHostFile(hive, corrupt);
  PlacePayload();
  TFormMain form;
  RunInstallation(form, Win(MakeInstallerFile()));
  EXPECT_EQ(ReadHostFile(hive), corrupt);
  EXPECT_TRUE(form.Closed());
}

TEST_F(Installation, AMissingVirtualPrinterInstallerStopsBeforeTheCleanUp) {
  PlacePayload({"ZIVizazazErurereRireridoz.exe", "Readme.txt", "VelmoraClientInstall.exe"});
  TFormMain form;
  try {
    RunInstallation(form, Win(MakeInstallerFile()));
    FAIL() << "the installation went on without the virtual printer installer";
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(),
              "Unable to execute application "
              "\"c:\\Program Files\\Velmora\\VelmoraVirtualPrinter.exe\"");
    EXPECT_EQ(ErrorBoxText(error.Message()), error.Message());
  }
  // The client side was handled; the installers stay; the window stays.
  EXPECT_EQ(widgets_->boxes.size(), 1u);
  EXPECT_TRUE(HostExists(Product("Client/Readme.txt")));
  EXPECT_TRUE(HostExists(Product("VelmoraClientInstall.exe")));
  EXPECT_FALSE(HostExists(prefix_ + "/standins.log"));
  EXPECT_TRUE(widgets_->cursors.empty());
  EXPECT_FALSE(form.Closed());
}

TEST_F(Installation, ASecondRunEndsInTheSameState) {
  PlacePayload();
  const std::string installer = Win(MakeInstallerFile());
  TFormMain first;
  RunInstallation(first, installer);
  const auto after_first = Snapshot();
  // What unpacking puts back on the second run.
  PlacePayload();
  TFormMain second;
  RunInstallation(second, installer);
  EXPECT_EQ(Snapshot(), after_first);
  EXPECT_EQ(ReadHostFile(prefix_ + "/standins.log"), kPrinterRun + kPrinterRun);
  EXPECT_TRUE(second.Closed());
}

}  // namespace
}  // namespace velmora
