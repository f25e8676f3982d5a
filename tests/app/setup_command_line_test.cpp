// The finished installer's command line: --unattended installs what an
// interactive run installs and says how it went in its exit status, --log
// records every step, one installer at a time per prefix, --help and
// --version.
#include <fcntl.h>
#include <signal.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/installation.h"
#include "app/setup_lock.h"
#include "tests/app/installer_fixture.h"

extern char** environ;

namespace velmora {
namespace {

const std::string kInstaller = std::string(VELMORA_BINARY_DIR) + "/bin/velmora-server-setup";
const std::string kPrinterRun = "VelmoraVirtualPrinter.exe /VERYSILENT /DISABLEPOPS\n";

struct Outcome {
  int status = -1;  // exit status, or -1 when it did not exit
  std::string out, err;
};

class SetupCommandLine : public InstallerTest {
 protected:
  // Starts the installer with the arguments, input from a file holding
  // `input`, output and errors in files of their own.
  pid_t Start(const std::vector<std::string>& arguments, const std::string& input = "") {
    const std::string tag = std::to_string(++runs_);
    WriteHostFile(Scratch("in." + tag), input);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, Scratch("in." + tag).c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, Scratch("out." + tag).c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, Scratch("err." + tag).c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> args{kInstaller};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    EXPECT_EQ(::posix_spawn(&pid, kInstaller.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    tags_[pid] = tag;
    return pid;
  }

  Outcome Finish(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    const std::string tag = tags_[pid];
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadHostFile(Scratch("out." + tag)),
            ReadHostFile(Scratch("err." + tag))};
  }

  Outcome Run(const std::vector<std::string>& arguments, const std::string& input = "") {
    return Finish(Start(arguments, input));
  }

  // What an installation leaves in a prefix, by path below it: drive_c's
  // files and folders, the hive and the stand-ins' log.
  static std::map<std::string, std::string> Installed(const std::string& prefix) {
    std::map<std::string, std::string> tree;
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(prefix + "/drive_c")) {
      const std::string path = entry.path().string();
      tree[path.substr(prefix.size())] = entry.is_directory() ? "<folder>" : ReadHostFile(path);
    }
    for (const char* file : {"/system.reg", "/standins.log"}) {
      tree[file] = HostExists(prefix + file) ? ReadHostFile(prefix + file) : "<none>";
    }
    return tree;
  }

  // The interactive installation from the terminal (Install, OK) in a
  // prefix of its own; what it left.
  std::map<std::string, std::string> InteractiveRun() {
    const std::string prefix = Scratch("interactive-prefix");
    ScopedEnv in_prefix("VELMORA_PREFIX", prefix);
    ScopedEnv terminal("VELMORA_UI", "terminal");
    EXPECT_EQ(Run({}, "\n\n").status, 0);
    return Installed(prefix);
  }

  // Waits until the virtual printer stand-in has said that it runs.
  bool PrinterStandInRuns() {
    for (int i = 0; i < 12000; ++i) {
      if (HostExists(prefix_ + "/standins.log") &&
          ReadHostFile(prefix_ + "/standins.log") == kPrinterRun) {
        return true;
      }
      ::usleep(5000);
    }
    return false;
  }

  int runs_ = 0;
  std::map<pid_t, std::string> tags_;
};

TEST_F(SetupCommandLine, UnattendedInstallsWhatAnInteractiveRunInstallsAndExitsZero) {
  const auto interactive = InteractiveRun();
  const Outcome run = Run({"--unattended"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Installed(prefix_), interactive);
  EXPECT_EQ(ReadHostFile(prefix_ + "/standins.log"), kPrinterRun);
  // The message box, printed and answered by itself.
  EXPECT_NE(run.out.find("The Velmora client is located in folder :\n"
                         "C:\\Program Files\\Velmora\\Client\\VelmoraClientInstall.exe\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.err, "");
}

TEST_F(SetupCommandLine, UnattendedWithTheFolderBlockedExitsNonZeroWithTheFoldersMessage) {
  std::filesystem::create_directories(DriveC("Program Files"));
  WriteHostFile(DriveC("Program Files/Velmora"), "in the way");
  const Outcome run = Run({"--unattended"});
  EXPECT_EQ(run.status, 1);
  // The product's words, after the host path and the system's reason.
  EXPECT_EQ(run.err, "Cannot make \"c:\\Program Files\\Velmora\" (" + DriveC("Program Files/Velmora") +
                         "): File exists\n"
                         "Unable to create directory \"c:\\Program Files\\Velmora\"!\n");
  EXPECT_EQ(run.out, "");
  EXPECT_FALSE(HostExists(prefix_ + "/standins.log"));
}

TEST_F(SetupCommandLine, ADriverKeyThatCannotBeWrittenIsSkippedWithANoteSayingWhy) {
  const std::string hive = prefix_ + "/system.reg";
  WriteHostFile(hive, "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\r\n\"half a line");
  const Outcome run = Run({"--unattended"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.err.find("The PDF printer driver was not configured: the registry key "
                         "HKEY_LOCAL_MACHINE\\Software\\ActMask PDF Virtual Printer SDK Terminal "
                         "Services Edition could not be opened or created in " + hive +
                         " (it is damaged); repair that file"),
            std::string::npos)
      << run.err;
}

TEST_F(SetupCommandLine, AFullDiskIsNamedAsTheCauseOfWhatFailsAfterIt) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounts a small tmpfs: run as root";
  const std::string disk = Scratch("small-disk");
  std::filesystem::create_directories(disk);
  ASSERT_EQ(::mount("tmpfs", disk.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=24k"), 0)
      << std::strerror(errno);
  ScopedEnv prefix("VELMORA_PREFIX", disk + "/prefix");
  const Outcome run = Run({"--unattended"});
  ::umount2(disk.c_str(), MNT_DETACH);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Could not unpack Release/Applications/VelmoraServerInstall/Client/"
                         "VelmoraClientInstall/VelmoraVirtualPrinter.exe: No space left on the "
                         "device holding " + disk + "/prefix/drive_c/Program Files/Velmora\n"),
            std::string::npos)
      << run.err;
}

TEST_F(SetupCommandLine, APrefixThatCannotBeMadeIsNamedWithTheReason) {
  WriteHostFile(Scratch("a-file"), "not a folder");
  ScopedEnv prefix("VELMORA_PREFIX", Scratch("a-file") + "/prefix");
  const Outcome run = Run({"--unattended"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Cannot make \"c:\\Program Files\": drive C: has no folder behind it (" +
                         Scratch("a-file") + "/prefix/drive_c: Not a directory)\n"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("Unable to create directory \"c:\\Program Files\"!\n"), std::string::npos);
}

TEST_F(SetupCommandLine, TheLogHoldsEveryStepWithItsTime) {
  const std::string log = Scratch("setup.log");
  ASSERT_EQ(Run({"--unattended", "--log", log}).status, 0);
  const std::string text = ReadHostFile(log);
  std::istringstream lines(text);
  const std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} .+)");
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    EXPECT_TRUE(std::regex_match(line, stamped)) << line;
  }
  EXPECT_GT(count, 25);
  auto occurrences = [&](const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(occurrences("Folder created: "), 4u);
  EXPECT_EQ(occurrences("Registry value written: "), 8u);
  EXPECT_EQ(occurrences("Registry value written: TagWndMsgID = dword:00008000"), 1u);
  EXPECT_EQ(occurrences("Unpacking item: "), 4u);
  EXPECT_EQ(occurrences("Opened in the shell: C:\\Program Files\\Velmora\\Client\\"), 2u);
  EXPECT_EQ(occurrences("Message shown: You will now have to install"), 1u);
  EXPECT_EQ(occurrences("Running: c:\\Program Files\\Velmora\\VelmoraVirtualPrinter.exe "
                        "/VERYSILENT /DISABLEPOPS"),
            1u);
  EXPECT_EQ(occurrences("Ended with exit code 0: "), 1u);
  EXPECT_EQ(occurrences("Deleted: c:\\Program Files\\Velmora\\VelmoraVirtualPrinter.exe"), 1u);
  EXPECT_EQ(occurrences("Installation complete"), 1u);
}

TEST_F(SetupCommandLine, TheLogOfAFailedRunEndsWithTheError) {
  std::filesystem::create_directories(DriveC("Program Files"));
  WriteHostFile(DriveC("Program Files/Velmora"), "in the way");
  const std::string log = Scratch("setup.log");
  ScopedEnv terminal("VELMORA_UI", "terminal");
  ASSERT_EQ(Run({"--log=" + log}, "i\n\nc\n").status, 0);  // the window stays until Close
  const std::string text = ReadHostFile(log);
  EXPECT_NE(text.find("Installation stopped: Unable to create directory "
                      "\"c:\\Program Files\\Velmora\"!\n"),
            std::string::npos)
      << text;
}

TEST_F(SetupCommandLine, ASecondInstallerStartedDuringTheFirstSaysSoAndTouchesNothing) {
  const auto single = InteractiveRun();
  // The first installer is held inside the virtual printer installer.
  const std::string hold = Scratch("hold");
  ASSERT_EQ(::mkfifo(hold.c_str(), 0600), 0);
  pid_t first;
  {
    ScopedEnv held("VELMORA_STAND_IN_HOLD", hold);
    first = Start({"--unattended"});
  }
  ASSERT_TRUE(PrinterStandInRuns());
  const auto during = Installed(prefix_);

  const Outcome second = Run({"--unattended"});
  EXPECT_EQ(second.status, 3);
  // Which installer holds the lock is said before the product's message.
  EXPECT_EQ(second.err.rfind("process " + std::to_string(first) + " (", 0), 0u) << second.err;
  EXPECT_NE(second.err.find("velmora-setup.lock; this one stops without changing anything\n" +
                            std::string(kAlreadyRunningText) + "\n"),
            std::string::npos)
      << second.err;
  EXPECT_EQ(Installed(prefix_), during);

  // Letting the stand-in end lets the first installer finish.
  int release = ::open(hold.c_str(), O_WRONLY);
  ASSERT_GE(release, 0);
  ::close(release);
  EXPECT_EQ(Finish(first).status, 0);
  EXPECT_EQ(Installed(prefix_), single);
  // And the prefix is free again.
  EXPECT_EQ(Run({"--unattended"}).status, 0);
}

// An installer stopped by a signal says, on standard error and in its log,
// that the installation is incomplete and how to complete it; the signal
// then ends it as it ends any program.
TEST_F(SetupCommandLine, AnInstallationStoppedBySignalSaysItIsIncomplete) {
  const std::string hold = Scratch("hold-stopped");
  ASSERT_EQ(::mkfifo(hold.c_str(), 0600), 0);
  const std::string log = Scratch("stopped.log");
  pid_t installer;
  {
    ScopedEnv held("VELMORA_STAND_IN_HOLD", hold);
    installer = Start({"--unattended", "--log", log});
  }
  ASSERT_TRUE(PrinterStandInRuns());
  ASSERT_EQ(::kill(installer, SIGTERM), 0);
  const Outcome stopped = Finish(installer);
  EXPECT_EQ(stopped.status, -1);  // no exit of its own
  EXPECT_NE(stopped.err.find("Stopped by SIGTERM before the installation was complete; run "
                             "Velmora Setup again to complete it.\n"),
            std::string::npos)
      << stopped.err;
  EXPECT_NE(ReadHostFile(log).find(" Stopped by SIGTERM before the installation was complete\n"),
            std::string::npos)
      << ReadHostFile(log);
  // The stand-in it left waiting may end now.
  const int release = ::open(hold.c_str(), O_WRONLY);
  ASSERT_GE(release, 0);
  ::close(release);
}

TEST_F(SetupCommandLine, HelpVersionAndBadOptions) {
  const Outcome help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--unattended"), std::string::npos);
  EXPECT_NE(help.out.find("--log FILE"), std::string::npos);
  const Outcome version = Run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(version.out.starts_with("velmora-server-setup ")) << version.out;
  const Outcome bad = Run({"--unatended"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("unknown option \"--unatended\""), std::string::npos);
  EXPECT_EQ(Run({"--log"}).status, 2);
  EXPECT_EQ(Run({"--log", Scratch("no-such-folder/setup.log")}).status, 2);
  // None of them installed anything.
  EXPECT_FALSE(std::filesystem::exists(DriveC("Program Files")));
}

}  // namespace
}  // namespace velmora
