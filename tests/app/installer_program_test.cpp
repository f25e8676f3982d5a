// The finished installer (bin/velmora-server-setup, the program with its
// payload appended) as an administrator without a display meets it: the
// terminal front end, answered line by line on its standard input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/app/installer_fixture.h"

extern char** environ;

namespace velmora {
namespace {

const std::string kInstaller = std::string(VELMORA_BINARY_DIR) + "/bin/velmora-server-setup";

class InstallerProgram : public InstallerTest {
 protected:
  // Starts the installer with a pipe on its standard input and its output
  // in a file; returns the pipe's writing end.
  int Start() {
    int in[2];
    EXPECT_EQ(::pipe(in), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addopen(&actions, 1, Scratch("output.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    ScopedEnv ui("VELMORA_UI", "terminal");
    std::vector<char*> argv{const_cast<char*>(kInstaller.c_str()), nullptr};
    EXPECT_EQ(::posix_spawn(&pid_, kInstaller.c_str(), &actions, nullptr, argv.data(), environ),
              0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    return in[1];
  }

  int Finish(int input) {
    ::close(input);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    return status;
  }

  static void Type(int input, const std::string& line) {
    ASSERT_EQ(::write(input, line.data(), line.size()), static_cast<ssize_t>(line.size()));
  }

  pid_t pid_ = 0;
};

TEST_F(InstallerProgram, InstallsFromTheTerminalAndEnds) {
  PlacePayload();
  int input = Start();
  Type(input, "\n");  // Install has the focus
  // The folder is opened before the message asks for Enter.
  EXPECT_EQ(WaitForOpened(1), Product("Client") + "\n");
  Type(input, "\n");
  int status = Finish(input);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  EXPECT_EQ(WaitForOpened(2), Product("Client") + "\n" + Product("Client/Readme.txt") + "\n");
  EXPECT_EQ(ReadHostFile(prefix_ + "/standins.log"),
            "VelmoraVirtualPrinter.exe /VERYSILENT /DISABLEPOPS\n");
  EXPECT_TRUE(HostExists(Product("Client/VelmoraClientInstall.exe")));
  EXPECT_FALSE(HostExists(Product("VelmoraVirtualPrinter.exe")));
  const std::string output = ReadHostFile(Scratch("output.txt"));
  EXPECT_NE(output.find("The Velmora client is located in folder :\n"
                        "C:\\Program Files\\Velmora\\Client\\VelmoraClientInstall.exe\n"),
            std::string::npos)
      << output;
}

TEST_F(InstallerProgram, ShowsAFailureAndKeepsTheWindowUntilClose) {
  std::filesystem::create_directories(DriveC("Program Files"));
  WriteHostFile(DriveC("Program Files/Velmora"), "in the way");
  int input = Start();
  Type(input, "i\n");
  Type(input, "\n");   // OK on the error box
  Type(input, "c\n");  // the window is still there: Close
  int status = Finish(input);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const std::string output = ReadHostFile(Scratch("output.txt"));
  EXPECT_NE(output.find("Unable to create directory \"c:\\Program Files\\Velmora\"!"),
            std::string::npos)
      << output;
  EXPECT_EQ(output.find("Unable to create directory \"c:\\Program Files\\Velmora\"!."),
            std::string::npos);
  EXPECT_FALSE(HostExists(prefix_ + "/standins.log"));
}

}  // namespace
}  // namespace velmora
