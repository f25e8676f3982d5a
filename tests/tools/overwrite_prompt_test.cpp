// The overwrite question on a terminal: vunzip (and unzip, where
// installed) run on a pseudo-terminal, answered as a person would. Each
// answer is written only once the question is on the screen.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/tools/vunzip_process.h"

namespace velmora::tools_test {
namespace {

namespace fs = std::filesystem;

// A program on a pseudo-terminal of its own, with the pseudo-terminal as
// its controlling terminal (so /dev/tty is it).
class TerminalSession {
 public:
  TerminalSession(const fs::path& folder, const std::vector<std::string>& argv) {
    pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      if (chdir(folder.c_str()) != 0) _exit(126);
      std::vector<char*> args;
      for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
      args.push_back(nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
  }
  ~TerminalSession() {
    if (pid_ > 0 && exit_code_ < 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }
  bool Started() const { return pid_ > 0; }

  // Reads until text has appeared (true) or the program ended (false).
  // The limit only ends a test whose program hangs; it never decides a
  // pass.
  bool WaitFor(const std::string& text) {
    while (screen_.find(text, seen_) == std::string::npos) {
      pollfd fd{master_, POLLIN, 0};
      if (poll(&fd, 1, 60000) <= 0) return false;
      char buffer[512];
      const ssize_t got = read(master_, buffer, sizeof buffer);
      if (got <= 0) return false;
      screen_.append(buffer, static_cast<size_t>(got));
    }
    seen_ = screen_.find(text, seen_) + text.size();
    return true;
  }
  void Type(const std::string& keys) {
    ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }
  int Finish() {
    WaitFor("\x04never printed\x04");  // drains the screen to the end
    int status = 0;
    waitpid(pid_, &status, 0);
    exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return exit_code_;
  }
  const std::string& Screen() const { return screen_; }

 private:
  int master_ = -1;
  pid_t pid_ = -1;
  int exit_code_ = -1;
  std::string screen_;
  size_t seen_ = 0;
};

class OverwritePrompt : public VunzipTest {
 protected:
  void SetUp() override {
    VunzipTest::SetUp();
    VUNZIP_NEED_TOOL("zip");
    Write("src/b.txt", "new\n");
    Write("src/c.txt", "new c\n");
    ASSERT_TRUE(Make("cd src && zip -q ../a.zip b.txt c.txt"));
  }
  void PlaceOldFiles(const std::string& dir) {
    Write(dir + "/b.txt", "old");
    Write(dir + "/c.txt", "old c");
  }
};

constexpr const char* kQuestion = "replace out/b.txt? [y]es, [n]o, [A]ll, [N]one, [r]ename: ";

TEST_F(OverwritePrompt, RenameWritesTheItemUnderTheNewNameAndKeepsTheOldFile) {
  PlaceOldFiles("out");
  TerminalSession session(Work(), {Vunzip(), "-d", "out", "a.zip", "b.txt"});
  ASSERT_TRUE(session.Started());
  ASSERT_TRUE(session.WaitFor(kQuestion)) << session.Screen();
  session.Type("r\n");
  ASSERT_TRUE(session.WaitFor("new name: ")) << session.Screen();
  session.Type("kept/renamed.txt\n");
  EXPECT_EQ(session.Finish(), 0) << session.Screen();
  EXPECT_EQ(Read("out/b.txt"), "old");
  EXPECT_EQ(Read("out/kept/renamed.txt"), "new\n") << session.Screen();
}

TEST_F(OverwritePrompt, RenameOutsideTheTargetIsAskedAgain) {
  PlaceOldFiles("out");
  TerminalSession session(Work(), {Vunzip(), "-d", "out", "a.zip", "b.txt"});
  ASSERT_TRUE(session.WaitFor(kQuestion)) << session.Screen();
  session.Type("r\n");
  ASSERT_TRUE(session.WaitFor("new name: "));
  session.Type("../escaped.txt\n");
  ASSERT_TRUE(session.WaitFor(kQuestion)) << session.Screen();
  session.Type("n\n");
  EXPECT_EQ(session.Finish(), 0);
  EXPECT_FALSE(fs::exists(Work() / "escaped.txt"));
  EXPECT_EQ(Read("out/b.txt"), "old");
}

// Each answer does to the files what it does with unzip, with the same
// exit code; the question reads alike, character for character.
TEST_F(OverwritePrompt, AnswersActAsUnzipsDo) {
  const bool have_unzip = testing::ProgramInstalled("unzip");
  struct Case {
    const char* keys;  // typed at the first and second question
    const char* b;     // b.txt afterwards
    const char* c;     // c.txt afterwards
  };
  for (const Case& c : {Case{"y", "new\n", "old c"}, Case{"A", "new\n", "new c\n"},
                        Case{"N", "old", "old c"}, Case{"n", "old", "old c"}}) {
    for (const std::string& program : {Vunzip(), std::string("unzip")}) {
      if (program == "unzip" && !have_unzip) continue;
      const std::string dir = std::string("w-") + c.keys + (program == "unzip" ? "-unzip" : "");
      PlaceOldFiles(dir + "/out");
      TerminalSession session(Work() / dir, {program, "-d", "out", "../a.zip"});
      ASSERT_TRUE(session.WaitFor(kQuestion)) << program << session.Screen();
      session.Type(std::string(c.keys) + "\n");
      // "y" and "n" are asked again about c.txt: answer the same.
      if (std::string(c.keys) == "y" || std::string(c.keys) == "n") {
        ASSERT_TRUE(session.WaitFor("replace out/c.txt? [y]es, [n]o, [A]ll, [N]one, [r]ename: "))
            << program << session.Screen();
        session.Type("n\n");
      }
      EXPECT_EQ(session.Finish(), 0) << program << " " << c.keys << session.Screen();
      EXPECT_EQ(Read(dir + "/out/b.txt"), c.b) << program << " " << c.keys;
      EXPECT_EQ(Read(dir + "/out/c.txt"), c.c) << program << " " << c.keys;
    }
  }
}

// An encrypted item's password is asked for before the question about the
// file in its way, a wrong one again in unzip's words, and the next item
// with the same password asks nothing; an empty first answer skips every
// encrypted item without another question, as unzip does.
TEST_F(OverwritePrompt, PasswordComesBeforeTheQuestionAboutTheFileInTheWay) {
  ASSERT_TRUE(Make("cd src && zip -q -P secret ../enc.zip b.txt c.txt"));
  PlaceOldFiles("given/out");
  TerminalSession given(Work() / "given", {Vunzip(), "-d", "out", "../enc.zip"});
  ASSERT_TRUE(given.WaitFor("[../enc.zip] b.txt password: ")) << given.Screen();
  given.Type("wrong\n");
  ASSERT_TRUE(given.WaitFor("password incorrect--reenter: ")) << given.Screen();
  given.Type("secret\n");
  ASSERT_TRUE(given.WaitFor(kQuestion)) << given.Screen();
  given.Type("y\n");
  ASSERT_TRUE(given.WaitFor("replace out/c.txt? [y]es, [n]o, [A]ll, [N]one, [r]ename: "))
      << given.Screen();
  given.Type("n\n");
  EXPECT_EQ(given.Finish(), 0) << given.Screen();
  EXPECT_EQ(Read("given/out/b.txt"), "new\n");
  EXPECT_EQ(Read("given/out/c.txt"), "old c");

  PlaceOldFiles("declined/out");
  TerminalSession declined(Work() / "declined", {Vunzip(), "-d", "out", "../enc.zip"});
  ASSERT_TRUE(declined.WaitFor("[../enc.zip] b.txt password: ")) << declined.Screen();
  declined.Type("\n");
  EXPECT_EQ(declined.Finish(), 82) << declined.Screen();
  const std::string& screen = declined.Screen();
  EXPECT_NE(screen.find("skipping: b.txt                   incorrect password"), std::string::npos)
      << screen;
  EXPECT_NE(screen.find("skipping: c.txt                   incorrect password"), std::string::npos)
      << screen;
  const std::string asked = "b.txt password: ";
  EXPECT_EQ(screen.find("password: ", screen.find(asked) + asked.size()), std::string::npos)
      << screen;
  EXPECT_EQ(screen.find("replace"), std::string::npos) << screen;
  EXPECT_EQ(Read("declined/out/b.txt"), "old");
}

// Nobody at a terminal: the answer is [N]one, said as unzip says it, and
// the run ends with a warning.
TEST_F(OverwritePrompt, WithoutATerminalNothingIsReplaced) {
  PlaceOldFiles("out");
  ProcessResult r = Run({"-d", "out", "a.zip"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find(std::string(kQuestion) + " NULL\n(EOF or read error, treating as \"[N]one\" ...)"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(Read("out/b.txt"), "old");
  EXPECT_EQ(Read("out/c.txt"), "old c");
}

}  // namespace
}  // namespace velmora::tools_test
