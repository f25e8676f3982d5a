#include "platform/shell.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/platform/platform_fixture.h"

namespace velmora {
namespace {

// The opener is detached and nothing waits for it, so a test waits for its
// record to appear (for as long as it takes; the opener is a tiny script).
class ShellTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    recorder_ = Scratch("recorder.sh");
    // Records its argument, where its output goes and whether it leads a
    // session of its own.
    WriteHostFile(recorder_,
                  "#!/bin/sh\n"
                  "sid=$(cut -d' ' -f6 /proc/$$/stat)\n"
                  "echo \"$1|$(readlink /proc/$$/fd/1)|$([ \"$sid\" = $$ ] && echo leader)\" "
                  ">> \"" + Scratch("opened.log") + "\"\n");
    ::chmod(recorder_.c_str(), 0755);
    ::mkdir(DriveC("Docs").c_str(), 0755);
    WriteHostFile(DriveC("Docs/Readme.txt"), "hello\n");
  }

  std::string WaitForRecords(size_t lines) {
    for (int i = 0; i < 6000; ++i) {
      std::string text = ReadHostFile(Scratch("opened.log"));
      if (static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) >= lines) return text;
      ::usleep(5000);
    }
    return ReadHostFile(Scratch("opened.log"));
  }

  std::string recorder_;
};

TEST_F(ShellTest, StartsTheOpenerDetachedWithTheHostPathAndReturnsAbove32) {
  ScopedEnv opener("VELMORA_SHELL_OPEN", recorder_);
  EXPECT_GT(ShellExecuteA(nullptr, nullptr, "C:\\DOCS\\", nullptr, nullptr, SW_SHOWNORMAL), 32);
  EXPECT_EQ(WaitForRecords(1), DriveC("Docs") + "|/dev/null|leader\n");
  EXPECT_GT(ShellExecuteA(nullptr, "open", "c:\\Docs\\readme.TXT", nullptr, nullptr,
                          SW_SHOWNORMAL),
            32);
  EXPECT_EQ(WaitForRecords(2), DriveC("Docs") + "|/dev/null|leader\n" +
                                   DriveC("Docs/Readme.txt") + "|/dev/null|leader\n");
}

TEST_F(ShellTest, AMissingPathIsFileNotFoundAndNothingIsStarted) {
  ScopedEnv opener("VELMORA_SHELL_OPEN", recorder_);
  EXPECT_EQ(ShellExecuteA(nullptr, nullptr, "c:\\Docs\\Nothing.txt", nullptr, nullptr,
                          SW_SHOWNORMAL),
            SE_ERR_FNF);
  EXPECT_EQ(ShellExecuteA(nullptr, nullptr, "c:\\Docs\\Readme.txt\\x", nullptr, nullptr,
                          SW_SHOWNORMAL),
            SE_ERR_PNF);
  EXPECT_FALSE(HostExists(Scratch("opened.log")));
}

TEST_F(ShellTest, WithoutADesktopSessionSaysWhatItCouldNotOpen) {
  ScopedEnv opener("VELMORA_SHELL_OPEN", std::nullopt);
  ScopedEnv display("DISPLAY", std::nullopt);
  ScopedEnv wayland("WAYLAND_DISPLAY", std::nullopt);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(ShellExecuteA(nullptr, nullptr, "c:\\Docs\\Readme.txt", nullptr, nullptr,
                          SW_SHOWNORMAL),
            SE_ERR_NOASSOC);
  std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("c:\\Docs\\Readme.txt"), std::string::npos) << said;
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
}

TEST_F(ShellTest, AnOpenerThatCannotBeStartedIs31WithOneLine) {
  ScopedEnv opener("VELMORA_SHELL_OPEN", Scratch("no-such-opener"));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(ShellExecuteA(nullptr, nullptr, "c:\\Docs", nullptr, nullptr, SW_SHOWNORMAL),
            SE_ERR_NOASSOC);
  std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find(DriveC("Docs")), std::string::npos) << said;
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
}

}  // namespace
}  // namespace velmora
