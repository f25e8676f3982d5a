#include "tests/support/process_runner.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "tests/support/scratch_folder.h"

namespace velmora::testing {
namespace {

TEST(ProcessRunner, KeepsTheExitCodeAndBothOutputsApart) {
  const ProcessResult r = RunShell("echo out; echo err >&2; exit 3");
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(r.out, "out\n");
  EXPECT_EQ(r.err, "err\n");
}

TEST(ProcessRunner, RunsInTheFolderWithTheExtraEnvironmentAndNothingToRead) {
  ScratchFolder folder("runner-test");
  const ProcessResult r = RunShell("pwd; echo \"$EXTRA\"; cat; tty || true",
                                   {.folder = folder.path(), .env = {{"EXTRA", "it's here"}}});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, folder.path() + "\nit's here\nnot a tty\n");
}

TEST(ProcessRunner, QuotedWordsReachTheProgramAsTheyAre) {
  const std::string word = "a 'b' \"c\" $d `e` \\f";
  EXPECT_EQ(RunShell("printf %s " + Quote(word)).out, word);
}

// A program that leaves a process behind holding its output must not keep
// the test waiting for that process.
TEST(ProcessRunner, ReturnsWhenTheProgramEndsThoughAChildStillHoldsItsOutput) {
  const ProcessResult r = RunShell("sleep 600 & echo $!");
  EXPECT_EQ(r.exit_code, 0);
  const int left_behind = std::stoi(r.out);
  EXPECT_EQ(::kill(left_behind, SIGKILL), 0);
}

TEST(ProcessRunner, KnowsWhichProgramsAreInstalled) {
  EXPECT_TRUE(ProgramInstalled("sh"));
  EXPECT_FALSE(ProgramInstalled("velmora-no-such-program"));
  EXPECT_FALSE(RunQuietly("exit 1"));
}

}  // namespace
}  // namespace velmora::testing
