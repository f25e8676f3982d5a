#include "app/exec_and_wait.h"

#include <gtest/gtest.h>

#include <string>

#include "rtl/exceptions.h"
#include "tests/app/installer_fixture.h"

namespace velmora {
namespace {

using ExecAndWaitTest = PlatformTest;

std::string FailureOf(const std::string& application, const std::string& command_line) {
  try {
    ExecAndWait(application, command_line);
  } catch (const Exception& error) {
    return error.Message();
  }
  return "(started)";
}

TEST_F(ExecAndWaitTest, RunsTheVirtualPrinterStandInWithItsSwitchesAndWaits) {
  EXPECT_EQ(ExecAndWait(Win(BuiltPayload("VelmoraVirtualPrinter.exe")),
                        " /VERYSILENT /DISABLEPOPS"),
            0u);
  // Written before ExecAndWait returned, so no waiting here.
  EXPECT_EQ(ReadHostFile(prefix_ + "/standins.log"),
            "VelmoraVirtualPrinter.exe /VERYSILENT /DISABLEPOPS\n");
}

TEST_F(ExecAndWaitTest, ReturnsAnyExitCodeAsItIs) {
  EXPECT_EQ(ExecAndWait("Z:\\bin\\sh", "-c \"exit 9\""), 9u);
  EXPECT_EQ(ExecAndWait("Z:\\bin\\sh", "-c \"kill -KILL $$\""), 128u + 9u);
  // Without an application name the command line names the program.
  EXPECT_EQ(ExecAndWait("", "sh -c \"exit 5\""), 5u);
}

TEST_F(ExecAndWaitTest, AProgramThatCannotStartRaisesWithTheApplicationName) {
  EXPECT_EQ(FailureOf("c:\\Program Files\\Velmora\\VelmoraVirtualPrinter.exe",
                      " /VERYSILENT /DISABLEPOPS"),
            "Unable to execute application "
            "\"c:\\Program Files\\Velmora\\VelmoraVirtualPrinter.exe\"");
  WriteHostFile(Scratch("notes.exe"), "not a program");
  EXPECT_EQ(FailureOf(Win(Scratch("notes.exe")), ""),
            "Unable to execute application \"" + Win(Scratch("notes.exe")) + "\"");
  EXPECT_EQ(FailureOf("", "no-such-program-anywhere /x"), "Unable to execute application \"\"");
}

}  // namespace
}  // namespace velmora
