#include "platform/process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/platform/platform_fixture.h"

namespace velmora {
namespace {

class ProcessTest : public PlatformTest {
 protected:
  // A script that writes each of its arguments as [arg] into args.out in
  // the folder it runs in.
  void SetUp() override {
    PlatformTest::SetUp();
    script_ = Scratch("args.sh");
    WriteHostFile(script_, "#!/bin/sh\nfor a; do printf '[%s]' \"$a\"; done > args.out\n");
    ::chmod(script_.c_str(), 0755);
  }

  // Runs, waits, closes; the exit code, or the last error negated.
  static int64_t Run(const std::string& application, const std::string& command_line,
                     const char* folder = nullptr) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(application.empty() ? nullptr : application.c_str(), command_line.c_str(),
                        nullptr, nullptr, false, CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS,
                        nullptr, folder, &startup, &info)) {
      return -static_cast<int64_t>(GetLastError());
    }
    EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_TRUE(CloseHandle(info.hThread));
    EXPECT_TRUE(CloseHandle(info.hProcess));
    return code;
  }

  std::string script_;
};

TEST_F(ProcessTest, PassesTheCommandLineSplitByWindowsRulesAfterTheProgram) {
  const std::string folder = Win(Scratch());
  EXPECT_EQ(Run(Win(script_), R"( /VERYSILENT "two words" a\"b)", folder.c_str()), 0);
  EXPECT_EQ(ReadHostFile(Scratch("args.out")), R"([/VERYSILENT][two words][a"b])");
}

TEST_F(ProcessTest, WithoutAnApplicationNameTheFirstTokenIsTheProgram) {
  const std::string folder = Win(Scratch());
  EXPECT_EQ(Run("", "\"" + Win(script_) + "\" one \"two three\"", folder.c_str()), 0);
  EXPECT_EQ(ReadHostFile(Scratch("args.out")), "[one][two three]");
  // A bare name is looked for along PATH.
  EXPECT_EQ(Run("", "sh -c \"exit 4\""), 4);
}

TEST_F(ProcessTest, ReturnsTheExitCodeWhateverItIs) {
  EXPECT_EQ(Run("Z:\\bin\\sh", "-c \"exit 3\""), 3);
  EXPECT_EQ(Run("Z:\\bin\\sh", "-c \"exit 255\""), 255);
}

TEST_F(ProcessTest, AChildKilledBySignalExitsWith128PlusTheSignal) {
  EXPECT_EQ(Run("Z:\\bin\\sh", "-c \"kill -9 $$\""), 128 + 9);
  EXPECT_EQ(Run("Z:\\bin\\sh", "-c \"kill -TERM $$\""), 128 + 15);
}

TEST_F(ProcessTest, AFileThatCannotRunFailsTheCallWithItsReason) {
  EXPECT_EQ(Run(Win(Scratch("missing.exe")), ""), -int64_t{ERROR_FILE_NOT_FOUND});
  EXPECT_EQ(Run(Win(Scratch("no folder\\x.exe")), ""), -int64_t{ERROR_PATH_NOT_FOUND});
  EXPECT_EQ(Run(Win(Scratch()), ""), -int64_t{ERROR_ACCESS_DENIED});
  WriteHostFile(Scratch("plain.exe"), "#!/bin/sh\nexit 0\n");
  ::chmod(Scratch("plain.exe").c_str(), 0644);
  EXPECT_EQ(Run(Win(Scratch("plain.exe")), ""), -int64_t{ERROR_ACCESS_DENIED});
  WriteHostFile(Scratch("text.exe"), "not a program\n");
  ::chmod(Scratch("text.exe").c_str(), 0755);
  EXPECT_EQ(Run(Win(Scratch("text.exe")), ""), -int64_t{ERROR_BAD_EXE_FORMAT});
}

TEST_F(ProcessTest, AnUnfinishedChildIsStillActiveAndHandlesAreTheirOwn) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  // The child reads its standard input, which it inherits: our pipe.
  int saved = ::dup(0);
  ::dup2(fds[0], 0);
  STARTUPINFOA startup{};
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(CreateProcessA("Z:\\bin\\sh", "-c \"read line\"", nullptr, nullptr, false, 0, nullptr,
                             nullptr, &startup, &info));
  ::dup2(saved, 0);
  ::close(saved);
  ::close(fds[0]);
  EXPECT_TRUE(IsProcessHandle(info.hProcess));
  EXPECT_FALSE(IsProcessHandle(0));
  EXPECT_GT(info.hProcess, HANDLE{INT32_MAX});
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 0), WAIT_TIMEOUT);
  ::close(fds[1]);  // end of input: read fails, the shell exits with 1
  EXPECT_EQ(WaitForSingleObject(info.hThread, INFINITE), WAIT_OBJECT_0);
  EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
  EXPECT_EQ(code, 1u);
  EXPECT_TRUE(CloseHandle(info.hProcess));
  EXPECT_TRUE(CloseHandle(info.hThread));
  // Gone now, and never taken for a descriptor.
  EXPECT_FALSE(CloseHandle(info.hThread));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_FAILED);
}

}  // namespace
}  // namespace velmora
