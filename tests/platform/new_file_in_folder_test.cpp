#include <fcntl.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/folder_handles.h"
#include "tests/support/scratch_folder.h"

namespace velmora {
namespace {

class NewFileInFolderTest : public ::testing::Test {
 protected:
  void SetUp() override { folder_fd_ = ::open(folder_.path().c_str(), O_RDONLY | O_DIRECTORY); }
  void TearDown() override { ::close(folder_fd_); }

  // Writes `text` as a new file and names it; true when all of that worked.
  bool WriteNamed(const std::string& name, const std::string& text) {
    NewFileInFolder file;
    if (!file.Create(folder_fd_)) return false;
    if (::write(file.Fd(), text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
      return false;
    }
    bool replaced = false;
    return file.Publish(name, &replaced);
  }
  std::string Read(const std::string& name) {
    std::string text(64, '\0');
    const int fd = ::openat(folder_fd_, name.c_str(), O_RDONLY);
    if (fd < 0) return "(missing)";
    text.resize(static_cast<size_t>(std::max<ssize_t>(0, ::read(fd, text.data(), text.size()))));
    ::close(fd);
    return text;
  }

  velmora::testing::ScratchFolder folder_{"new-file"};
  int folder_fd_ = -1;
};

TEST_F(NewFileInFolderTest, FileHasNoNameUntilPublishedAndNoneIfDropped) {
  {
    NewFileInFolder file;
    ASSERT_TRUE(file.Create(folder_fd_));
    ASSERT_EQ(::write(file.Fd(), "half", 4), 4);
    EXPECT_EQ(Read("a"), "(missing)");
  }
  EXPECT_EQ(Read("a"), "(missing)");
  ASSERT_TRUE(WriteNamed("a", "whole"));
  EXPECT_EQ(Read("a"), "whole");
  ASSERT_TRUE(WriteNamed("a", "newer"));  // replaces
  EXPECT_EQ(Read("a"), "newer");
}

// Without CAP_DAC_READ_SEARCH (any user but root) the kernel may refuse to
// name an unnamed file by its handle; it is then named through /proc.
TEST_F(NewFileInFolderTest, NamedAlsoWithoutThePrivilegeToLinkAHandle) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0) ::_exit(2);
    const int bit = CAP_DAC_READ_SEARCH;
    data[bit / 32].effective &= ~(1u << (bit % 32));
    if (::syscall(SYS_capset, &header, data) != 0) ::_exit(3);
    ::_exit(WriteNamed("b", "one") && WriteNamed("c", "two") ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(Read("b"), "one");
  EXPECT_EQ(Read("c"), "two");
}

}  // namespace
}  // namespace velmora
