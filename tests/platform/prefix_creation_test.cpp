// The prefix is made when a path needs it (a C: path, the registry), never
// by reaching host files through Z:, so a tool that only reads archives and
// writes host folders leaves no ~/.velmora behind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/paths.h"
#include "tests/platform/platform_fixture.h"

namespace velmora {
namespace {

class PrefixCreation : public PlatformTest {
 protected:
  static bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
  }
};

TEST_F(PrefixCreation, HostPathsThroughZMakeNoPrefixAndCPathsMakeIt) {
  const std::string fresh = Scratch("fresh-prefix");
  ScopedEnv env("VELMORA_PREFIX", fresh);
  EXPECT_EQ(HostPath("Z:\\tmp"), "/tmp");
  EXPECT_EQ(HostPath("z:\\"), "/");
  EXPECT_FALSE(Exists(fresh)) << "reaching a host file made the prefix";
  EXPECT_EQ(HostPath("c:\\Program Files"), fresh + "/drive_c/Program Files");
  EXPECT_TRUE(Exists(fresh + "/dosdevices/z:"));
  EXPECT_EQ(HostPath("Z:\\tmp"), "/tmp");
}

}  // namespace
}  // namespace velmora
