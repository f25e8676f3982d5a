#include "platform/mapped_window.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/scratch_folder.h"

namespace velmora {
namespace {

class MappedWindowTest : public ::testing::Test {
 protected:
  // A file of `size` bytes counting 0, 1, 2, ... (mod 251), open for reading.
  int MakeFile(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i % 251);
    path_ = folder_.Host("data");
    const int out = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_EQ(::write(out, bytes.data(), size), static_cast<ssize_t>(size));
    ::close(out);
    fd_ = ::open(path_.c_str(), O_RDONLY);
    return fd_;
  }
  void TearDown() override {
    if (fd_ >= 0) ::close(fd_);
  }

  velmora::testing::ScratchFolder folder_{"mapped-window"};
  std::string path_;
  int fd_ = -1;
};

TEST_F(MappedWindowTest, ViewShowsTheFileFromAnyOffset) {
  const int fd = MakeFile(3 * 4096 + 100);
  MappedWindow view;
  // Not on a page boundary, running to the end of the file.
  ASSERT_TRUE(view.Map(fd, 5000, 3 * 4096 + 100 - 5000));
  EXPECT_TRUE(view.Covers(5000));
  EXPECT_FALSE(view.Covers(4999));
  EXPECT_FALSE(view.Covers(view.End()));
  for (int64_t at : {5000, 8191, 8192, 3 * 4096 + 99}) {
    EXPECT_EQ(*view.At(at), at % 251) << "at " << at;
  }
  EXPECT_FALSE(view.Damaged());
}

TEST_F(MappedWindowTest, FileCutShortUnderTheViewReadsZerosInsteadOfCrashing) {
  const int fd = MakeFile(64 * 1024);
  MappedWindow view;
  ASSERT_TRUE(view.Map(fd, 0, 64 * 1024));
  ASSERT_EQ(::truncate(path_.c_str(), 4096), 0);
  // Past the new end: without the guard this read raises SIGBUS.
  EXPECT_EQ(*view.At(32 * 1024), 0);
  EXPECT_TRUE(view.Damaged());
  // The next view of the same slot starts clean.
  view.Unmap();
  ASSERT_TRUE(view.Map(fd, 0, 4096));
  EXPECT_FALSE(view.Damaged());
  EXPECT_EQ(*view.At(100), 100);
}

TEST_F(MappedWindowTest, BusErrorsOutsideEveryViewStillEndTheProcess) {
  const int fd = MakeFile(8192);
  MappedWindow view;
  ASSERT_TRUE(view.Map(fd, 0, 4096));  // the guard is installed
  EXPECT_EXIT(
      {
        void* other = ::mmap(nullptr, 8192, PROT_READ, MAP_PRIVATE, fd, 0);
        if (other == MAP_FAILED) ::_exit(3);
        if (::ftruncate(::open(path_.c_str(), O_WRONLY), 0) != 0) ::_exit(4);
        volatile uint8_t byte = static_cast<const uint8_t*>(other)[100];
        (void)byte;
        ::_exit(0);
      },
      // Killed by the signal, or (under a sanitizer, whose handler was
      // there first) reported by that handler, which exits or aborts.
      [](int status) {
        return (WIFSIGNALED(status) &&
                (WTERMSIG(status) == SIGBUS || WTERMSIG(status) == SIGABRT)) ||
               (WIFEXITED(status) && WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != 3 &&
                WEXITSTATUS(status) != 4);
      },
      "");
}

}  // namespace
}  // namespace velmora
