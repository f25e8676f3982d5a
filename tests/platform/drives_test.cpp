#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/host_files.h"
#include "platform/paths.h"
#include "platform/win32.h"
#include "tests/platform/platform_fixture.h"

namespace velmora {
namespace {

class DrivesTest : public PlatformTest {
 protected:
  // A made-up /sys: sda fixed with partition sda1, sdb removable with sdb1.
  void MakeSysfs() {
    std::string sys = Scratch("sys");
    std::filesystem::create_directories(sys + "/dev/block");
    std::filesystem::create_directories(sys + "/devices/pci/sda/sda1");
    std::filesystem::create_directories(sys + "/devices/usb/sdb/sdb1");
    WriteHostFile(sys + "/devices/pci/sda/removable", "0\n");
    WriteHostFile(sys + "/devices/usb/sdb/removable", "1\n");
    Link("../../devices/pci/sda", sys + "/dev/block/8:0");
    Link("../../devices/pci/sda/sda1", sys + "/dev/block/8:1");
    Link("../../devices/usb/sdb", sys + "/dev/block/8:16");
    Link("../../devices/usb/sdb/sdb1", sys + "/dev/block/8:17");
  }
  static void Link(const std::string& target, const std::string& link) {
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0) << link;
  }
};

TEST_F(DrivesTest, RemovableFlagOfTheDiskDecides) {
  MakeSysfs();
  std::string sys = Scratch("sys");
  EXPECT_EQ(host::DriveTypeOfDevice(8, 0, sys), DRIVE_FIXED);
  EXPECT_EQ(host::DriveTypeOfDevice(8, 1, sys), DRIVE_FIXED);
  EXPECT_EQ(host::DriveTypeOfDevice(8, 16, sys), DRIVE_REMOVABLE);
  EXPECT_EQ(host::DriveTypeOfDevice(8, 17, sys), DRIVE_REMOVABLE);  // a partition of it
  EXPECT_EQ(host::DriveTypeOfDevice(9, 9, sys), DRIVE_FIXED);       // unknown device
  EXPECT_EQ(host::DriveTypeOfDevice(0, 42, sys), DRIVE_FIXED);      // tmpfs, overlay
}

TEST_F(DrivesTest, LinkedDrivesHaveARootAndOthersDoNot) {
  UINT c = GetDriveTypeA("C:\\");
  EXPECT_TRUE(c == DRIVE_FIXED || c == DRIVE_REMOVABLE) << c;
  EXPECT_EQ(GetDriveTypeA("c:"), c);
  EXPECT_EQ(GetDriveTypeA("Q:\\"), DRIVE_NO_ROOT_DIR);
  EXPECT_EQ(GetDriveTypeA("\\\\server\\share\\"), DRIVE_NO_ROOT_DIR);
  // A link to nothing is no root either.
  ASSERT_EQ(::symlink(Scratch("gone").c_str(), (prefix_ + "/dosdevices/e:").c_str()), 0);
  EXPECT_EQ(GetDriveTypeA("E:\\"), DRIVE_NO_ROOT_DIR);
}

TEST_F(DrivesTest, ADriveLinkPointedElsewhereIsSeenAtOnceThoughRootsAreKept) {
  const std::string devices = prefix_ + "/dosdevices";
  const std::string first = Scratch("first"), second = Scratch("second");
  std::filesystem::create_directories(first);
  std::filesystem::create_directories(second);
  Link(first, devices + "/m:");
  // A settled folder (its times long past): the root read now is kept.
  const struct timespec long_ago[2] = {{1'600'000'000, 0}, {1'600'000'000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, devices.c_str(), long_ago, 0), 0);
  EXPECT_EQ(host::DriveHostRoot('M'), first);
  EXPECT_EQ(host::DriveHostRoot('m'), first);
  ASSERT_EQ(::unlink((devices + "/m:").c_str()), 0);
  Link(second, devices + "/m:");
  EXPECT_EQ(host::DriveHostRoot('M'), second);
  ASSERT_EQ(::unlink((devices + "/m:").c_str()), 0);
  EXPECT_EQ(host::DriveHostRoot('M'), std::nullopt);
}

TEST_F(DrivesTest, FreeSpaceComesFromTheFileSystem) {
  uint64_t free_to_caller = 0, total = 0, total_free = 0;
  ASSERT_TRUE(GetDiskFreeSpaceExA("c:\\", &free_to_caller, &total, &total_free));
  EXPECT_GT(total, 0u);
  EXPECT_LE(free_to_caller, total_free);
  EXPECT_LE(total_free, total);
  EXPECT_TRUE(GetDiskFreeSpaceExA("c:\\", nullptr, nullptr, nullptr));
  EXPECT_FALSE(GetDiskFreeSpaceExA("c:\\missing\\", &free_to_caller, &total, &total_free));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(GetDiskFreeSpaceExA("q:\\", &free_to_caller, &total, &total_free));
}

}  // namespace
}  // namespace velmora
