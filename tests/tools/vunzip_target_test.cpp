// vunzip's target folder: a tree of real headers comes back identical,
// names differing only in case included; -d is a host path; a link planted
// in the target is never written through.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/tools/vunzip_process.h"

namespace velmora::tools_test {
namespace {

TEST_F(VunzipTest, HeaderTreeComesBackIdenticalWithItsCasePairs) {
  VUNZIP_NEED_TOOL("zip");
  // linux/netfilter holds xt_CONNMARK.h and xt_connmark.h, and more pairs.
  if (!std::filesystem::is_directory("/usr/include/linux/netfilter")) {
    GTEST_SKIP() << "no kernel headers to pack";
  }
  ASSERT_TRUE(Make("mkdir src && cp -r /usr/include/linux/netfilter src/ && "
                   "cd src && zip -q -r ../tree.zip ."));
  ProcessResult r = Run({"-q", "-d", "out", "tree.zip"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(Shell("diff -r src out").exit_code, 0) << "the extracted tree differs";
  EXPECT_NE(Read("out/netfilter/xt_CONNMARK.h"), Read("out/netfilter/xt_connmark.h"));
  EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(VunzipTest, TargetFolderIsAHostPathWhereABackslashIsANameCharacter) {
  VUNZIP_NEED_TOOL("zip");
  Write("a.txt", "x");
  ASSERT_TRUE(Make("zip -q a.zip a.txt && mkdir -p t"));
  ProcessResult r = Run({"-q", "-d", "t/x\\..\\..\\victim", "a.zip"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(Read("t/x\\..\\..\\victim/a.txt"), "x");
  EXPECT_FALSE(std::filesystem::exists(Work() / "victim"));
}

TEST_F(VunzipTest, LinkPlantedInTheTargetIsNotWrittenThrough) {
  VUNZIP_NEED_TOOL("zip");
  Write("link/x.txt", "evil");
  Write("ok.txt", "fine");
  ASSERT_TRUE(Make("zip -q -r a.zip link ok.txt && rm -r link && mkdir elsewhere out && "
                   "ln -s ../elsewhere out/link"));
  ProcessResult r = Run({"-o", "-d", "out", "a.zip"});
  EXPECT_NE(r.exit_code, 0);
  EXPECT_NE(r.err.find("is a symbolic link; not extracting through it"), std::string::npos)
      << r.err;
  EXPECT_TRUE(std::filesystem::is_empty(Work() / "elsewhere"));
  EXPECT_EQ(Read("out/ok.txt"), "fine");
}

}  // namespace
}  // namespace velmora::tools_test
