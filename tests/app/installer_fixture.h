// A fresh prefix, a recording opener and a recording widget set for the
// installer's tests, plus the payload programs placed where unpacking puts
// them.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/message_box.h"
#include "platform/toolkit/toolkit.h"
#include "tests/platform/platform_fixture.h"

namespace velmora {

// The payload files as the build made them, in archive order.
inline const std::vector<std::string> kPayloadNames = {
    "ZIVizazazErurereRireridoz.exe", "VelmoraVirtualPrinter.exe", "Readme.txt",
    "VelmoraClientInstall.exe"};

inline std::string BuiltPayload(const std::string& name) {
  return std::string(VELMORA_BINARY_DIR) + "/payload/" + name;
}

// Message boxes and cursor changes, answered OK at once (after on_box).
class RecordingWidgetSet : public TWidgetSet {
 public:
  struct Box {
    std::string text, caption;
    UINT type;
  };
  const char* Name() const override { return "recording"; }
  void Run(TForm&) override {}
  void Terminate() override {}
  void FormClosed(TForm&) override {}
  void ProcessMessages() override {}
  void SetCursor(TCursor cursor) override { cursors.push_back(cursor); }
  void SetTitle(const std::string&) override {}
  int MessageBox(const std::string& text, const std::string& caption, UINT type) override {
    boxes.push_back({text, caption, type});
    if (on_box) on_box();
    return IDOK;
  }

  std::vector<Box> boxes;
  std::vector<TCursor> cursors;
  std::function<void()> on_box;
};

class InstallerTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    const std::string opener = Scratch("opener.sh");
    WriteHostFile(opener, "#!/bin/sh\necho \"$1\" >> \"" + Scratch("opened.log") + "\"\n");
    ::chmod(opener.c_str(), 0755);
    opener_env_.emplace("VELMORA_SHELL_OPEN", opener);
    auto widgets = std::make_unique<RecordingWidgetSet>();
    widgets_ = widgets.get();
    Application().SetTitle("Velmora - Server");
    Application().SetWidgetSet(std::move(widgets));
    Application().SetCursor(TCursor::crHourGlass);
    widgets_->cursors.clear();
  }

  void TearDown() override {
    Application().SetWidgetSet(nullptr);
    opener_env_.reset();
    PlatformTest::TearDown();
  }

  // An installer file that every archive reader opens as a self-extracting
  // archive with no items: "MZ" and an empty end of central directory
  // record whose directory offset (2) counts from the start of the file.
  std::string MakeInstallerFile(const std::string& folder = "setup") {
    std::filesystem::create_directories(Scratch(folder));
    std::string bytes = "MZ";
    const unsigned char end_record[22] = {0x50, 0x4B, 5, 6, 0, 0, 0, 0, 0, 0, 0,
                                          0,    0,    0, 0, 0, 2, 0, 0, 0, 0, 0};
    bytes.append(reinterpret_cast<const char*>(end_record), sizeof end_record);
    const std::string path = Scratch(folder + "/velmora-server-setup");
    WriteHostFile(path, bytes);
    ::chmod(path.c_str(), 0755);
    return path;
  }

  // Puts the payload where unpacking leaves it.
  void PlacePayload(const std::vector<std::string>& names = kPayloadNames) {
    const std::string product = DriveC("Program Files/Velmora");
    std::filesystem::create_directories(product);
    for (const auto& name : names) {
      std::filesystem::copy_file(BuiltPayload(name), product + "/" + name,
                                 std::filesystem::copy_options::overwrite_existing);
    }
  }

  // Waits for the detached opener to have recorded `lines` opens.
  std::string WaitForOpened(size_t lines) {
    for (int i = 0; i < 12000; ++i) {  // up to a minute on a loaded machine
      std::string text = ReadHostFile(Scratch("opened.log"));
      if (static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) >= lines) return text;
      ::usleep(5000);
    }
    return ReadHostFile(Scratch("opened.log"));
  }

  // Every file and folder under drive_c with its contents, and the hive.
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> tree;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(DriveC())) {
      std::string path = entry.path().string();
      tree[path] = entry.is_directory() ? "<folder>" : ReadHostFile(path);
    }
    tree["system.reg"] = ReadHostFile(prefix_ + "/system.reg");
    return tree;
  }

  std::string Product(const std::string& rest) const {
    return DriveC("Program Files/Velmora/" + rest);
  }

  RecordingWidgetSet* widgets_ = nullptr;
  std::optional<ScopedEnv> opener_env_;
};

}  // namespace velmora
