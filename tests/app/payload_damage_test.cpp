// The finished installer unpacking a payload that was damaged after it was
// built: an item whose CRC-32 no longer matches is installed as
// decompressed and nothing is shown; an item whose data cannot be
// decompressed is missing and everything else is installed; a missing
// virtual printer installer stops the procedure with its exact message.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "app/installation.h"
#include "app/main_form.h"
#include "rtl/exceptions.h"
#include "tests/app/installer_fixture.h"

namespace velmora {
namespace {

uint32_t Le32(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(b.at(at + i));
  return v;
}
uint16_t Le16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b.at(at)) |
                               (static_cast<uint8_t>(b.at(at + 1)) << 8));
}

// Where an item of the installer's payload lies: its central and local
// header, and its data, found by the bare name.
struct ItemPlace {
  size_t central = 0;
  size_t local = 0;
  size_t data = 0;
};

std::map<std::string, ItemPlace> PayloadPlaces(const std::string& file) {
  constexpr size_t kEndRecordSize = 22;
  const size_t end = file.size() - kEndRecordSize;
  EXPECT_EQ(Le32(file, end), 0x06054B50u) << "the end record fills the last 22 bytes";
  std::map<std::string, ItemPlace> places;
  size_t at = Le32(file, end + 16);
  for (int i = 0, n = Le16(file, end + 10); i < n; ++i) {
    EXPECT_EQ(Le32(file, at), 0x02014B50u);
    const size_t name_length = Le16(file, at + 28);
    std::string name = file.substr(at + 46, name_length);
    name = name.substr(name.find_last_of('/') + 1);
    ItemPlace place{at, Le32(file, at + 42), 0};
    place.data = place.local + 30 + Le16(file, place.local + 26) + Le16(file, place.local + 28);
    places[name] = place;
    at += 46 + name_length + Le16(file, at + 30) + Le16(file, at + 32);
  }
  return places;
}

class PayloadDamage : public InstallerTest {
 protected:
  // TMPDIR is Scratch("tmp"), as the fixture sets it.
  static std::string Built(const std::string& relative) {
    std::ifstream in(std::string(VELMORA_BINARY_DIR) + "/" + relative, std::ios::binary);
    std::string bytes(std::istreambuf_iterator<char>(in), {});
    EXPECT_GT(bytes.size(), 1000u) << "build velmora-server-setup first";
    return bytes;
  }

  // bytes as velmora-server-setup in a folder of its own; its Windows name.
  std::string PlacedInstaller(const std::string& bytes) {
    std::filesystem::create_directories(Scratch("setup"));
    const std::string path = Scratch("setup/velmora-server-setup");
    WriteHostFile(path, bytes);
    ::chmod(path.c_str(), 0755);
    return Win(path);
  }

  // The built installer with change() applied to its bytes.
  std::string DamagedInstaller(const std::function<void(std::string&, ItemPlace)>& change,
                               const std::string& item) {
    std::string bytes = Built("bin/velmora-server-setup");
    const auto places = PayloadPlaces(bytes);
    EXPECT_EQ(places.count(item), 1u) << item;
    if (places.count(item) != 0) change(bytes, places.at(item));
    return PlacedInstaller(bytes);
  }

  // Runs the procedure and returns the message it stopped with.
  std::string FailureOf(const std::string& installer) {
    TFormMain form;
    try {
      RunInstallation(form, installer);
    } catch (const Exception& error) {
      EXPECT_FALSE(form.Closed());
      return error.Message();
    }
    ADD_FAILURE() << "the procedure did not stop";
    return "";
  }
};

// Both copies of the CRC-32, so the headers agree and only the data differs.
void BreakCrc(std::string& bytes, ItemPlace place) {
  bytes[place.local + 14] ^= 0x55;
  bytes[place.central + 16] ^= 0x55;
}

// The first block header: last block, type 3, which Deflate does not have.
void BreakData(std::string& bytes, ItemPlace place) { bytes[place.data] = 0x07; }

TEST_F(PayloadDamage, AnItemWithABadCrcIsInstalledAsDecompressedAndNothingIsShown) {
  TFormMain form;
  RunInstallation(form, DamagedInstaller(BreakCrc, "Readme.txt"));
  EXPECT_EQ(ReadHostFile(Product("Client/Readme.txt")), ReadHostFile(BuiltPayload("Readme.txt")));
  ASSERT_EQ(widgets_->boxes.size(), 1u) << "only the instructions";
  EXPECT_NE(widgets_->boxes[0].text.find("install the Velmora Client"), std::string::npos);
  EXPECT_TRUE(form.Closed());
}

TEST_F(PayloadDamage, AnItemThatCannotBeDecompressedIsMissingAndTheRestIsInstalled) {
  TFormMain form;
  RunInstallation(form, DamagedInstaller(BreakData, "ZIVizazazErurereRireridoz.exe"));
  EXPECT_FALSE(HostExists(Product("ZIVizazazErurereRireridoz.exe")));
  EXPECT_EQ(ReadHostFile(Product("Client/Readme.txt")), ReadHostFile(BuiltPayload("Readme.txt")));
  EXPECT_EQ(ReadHostFile(Product("Client/VelmoraClientInstall.exe")),
            ReadHostFile(BuiltPayload("VelmoraClientInstall.exe")));
  EXPECT_EQ(widgets_->boxes.size(), 1u);
  EXPECT_TRUE(form.Closed());
  // No temporary file of the failed item is left behind.
  EXPECT_TRUE(std::filesystem::is_empty(Scratch("tmp")));
}

TEST_F(PayloadDamage, AFailedItemRemovesNoFileItDidNotWrite) {
  // A program of that name from an earlier run stays when the new one fails.
  std::filesystem::create_directories(Product(""));
  WriteHostFile(Product("ZIVizazazErurereRireridoz.exe"), "earlier run");
  TFormMain form;
  RunInstallation(form, DamagedInstaller(BreakData, "ZIVizazazErurereRireridoz.exe"));
  EXPECT_EQ(ReadHostFile(Product("ZIVizazazErurereRireridoz.exe")), "earlier run");
}

TEST_F(PayloadDamage, ADamagedVirtualPrinterInstallerStopsTheProcedureWithItsMessage) {
  TFormMain form;
  const std::string installer = DamagedInstaller(BreakData, "VelmoraVirtualPrinter.exe");
  try {
    RunInstallation(form, installer);
    FAIL() << "the procedure went on without the virtual printer installer";
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(),
              "Unable to execute application "
              "\"c:\\Program Files\\Velmora\\VelmoraVirtualPrinter.exe\"");
  }
  EXPECT_FALSE(HostExists(Product("VelmoraVirtualPrinter.exe")));
  EXPECT_TRUE(HostExists(Product("Client/Readme.txt")));
  EXPECT_TRUE(HostExists(Product("VelmoraClientInstall.exe")));
  EXPECT_FALSE(form.Closed());
}

TEST_F(PayloadDamage, AnInstallerWithoutItsPayloadSaysSoInWordsAnAdministratorCanActOn) {
  // The linked program alone: its code holds the end record's signature, in
  // places that once passed for the last disk of a spanned set.
  const std::string message = FailureOf(PlacedInstaller(Built("app/velmora-server-setup")));
  EXPECT_EQ(message, PayloadMissingText("velmora-server-setup"));
  EXPECT_EQ(message,
            "The installation data inside velmora-server-setup is missing or damaged; download "
            "the installer again.");
  EXPECT_FALSE(HostExists(Product("Readme.txt")));
}

TEST_F(PayloadDamage, AnInstallerCutShortSaysItsPayloadIsMissingOrDamaged) {
  std::string bytes = Built("bin/velmora-server-setup");
  const auto places = PayloadPlaces(bytes);
  // Cut inside the payload: in the directory, and in the middle of an item.
  for (size_t keep : {bytes.size() - 10, static_cast<size_t>(places.at("Readme.txt").data + 40)}) {
    EXPECT_EQ(FailureOf(PlacedInstaller(bytes.substr(0, keep))),
              PayloadMissingText("velmora-server-setup"))
        << keep;
  }
  EXPECT_FALSE(HostExists(Product("Readme.txt")));
}

}  // namespace
}  // namespace velmora
