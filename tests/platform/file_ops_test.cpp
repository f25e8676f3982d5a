#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/win32.h"
#include "tests/platform/platform_fixture.h"

namespace velmora {
namespace {

using FileOpsTest = PlatformTest;

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (struct dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

void SetModificationTime(const std::string& path, time_t seconds, long nanoseconds) {
  struct timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST_F(FileOpsTest, CreateDirectoryMakesOneLevelOnly) {
  SetLastError(0);
  EXPECT_FALSE(CreateDirectoryA("c:\\Program Files\\Velmora", nullptr));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(HostExists(DriveC("Program Files")));

  EXPECT_TRUE(CreateDirectoryA("c:\\Program Files\\", nullptr));
  EXPECT_TRUE(CreateDirectoryA("c:\\Program Files\\Velmora", nullptr));
  EXPECT_TRUE(HostExists(DriveC("Program Files/Velmora")));
}

TEST_F(FileOpsTest, CreateDirectoryReportsAnExistingNameCaseBlind) {
  ASSERT_TRUE(CreateDirectoryA("c:\\Data", nullptr));
  EXPECT_FALSE(CreateDirectoryA("C:\\DATA", nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(Entries(DriveC()), std::vector<std::string>{"Data"});
  WriteHostFile(DriveC("file"), "x");
  EXPECT_FALSE(CreateDirectoryA("c:\\file", nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
}

TEST_F(FileOpsTest, RemoveDirectoryRemovesOnlyEmptyFolders) {
  ASSERT_EQ(::mkdir(DriveC("full").c_str(), 0777), 0);
  WriteHostFile(DriveC("full/x"), "x");
  EXPECT_FALSE(RemoveDirectoryA("c:\\full"));
  EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
  EXPECT_FALSE(RemoveDirectoryA("c:\\full\\x"));
  EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
  EXPECT_FALSE(RemoveDirectoryA("c:\\"));
  EXPECT_TRUE(HostExists(DriveC()));
  ASSERT_EQ(::unlink(DriveC("full/x").c_str()), 0);
  EXPECT_TRUE(RemoveDirectoryA("C:\\FULL\\"));
  EXPECT_FALSE(HostExists(DriveC("full")));
}

TEST_F(FileOpsTest, DeleteFileDeletesFilesNotFolders) {
  WriteHostFile(DriveC("a.txt"), "x");
  EXPECT_TRUE(DeleteFileA("C:\\A.TXT"));
  EXPECT_FALSE(HostExists(DriveC("a.txt")));
  EXPECT_FALSE(DeleteFileA("c:\\a.txt"));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(DeleteFileA("c:\\nowhere\\a.txt"));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  ASSERT_EQ(::mkdir(DriveC("dir").c_str(), 0777), 0);
  EXPECT_FALSE(DeleteFileA("c:\\dir"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(FileOpsTest, CopyFileReplacesTheTargetAndKeepsTimeAndMode) {
  WriteHostFile(DriveC("source.exe"), "new contents");
  ASSERT_EQ(::chmod(DriveC("source.exe").c_str(), 0751), 0);
  SetModificationTime(DriveC("source.exe"), 1'000'000'000, 123'456'700);
  WriteHostFile(DriveC("target.exe"), "old contents, longer than the new");
  ASSERT_EQ(::chmod(DriveC("target.exe").c_str(), 0600), 0);
  // A handle on the old target keeps reading the old file: the new one was
  // renamed over it, never written into it.
  int old_fd = ::open(DriveC("target.exe").c_str(), O_RDONLY);
  ASSERT_GE(old_fd, 0);

  ASSERT_TRUE(CopyFileA("c:\\source.exe", "C:\\TARGET.EXE", false));

  EXPECT_EQ(ReadHostFile(DriveC("target.exe")), "new contents");
  EXPECT_EQ(ModeOf(DriveC("target.exe")), 0751u);
  struct stat st {};
  ASSERT_EQ(::stat(DriveC("target.exe").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1'000'000'000);
  EXPECT_EQ(st.st_mtim.tv_nsec, 123'456'700);
  char old[3] = {};
  EXPECT_EQ(::read(old_fd, old, 3), 3);
  EXPECT_EQ(std::string(old, 3), "old");
  ::close(old_fd);
  // No temporary file is left beside it.
  std::vector<std::string> entries = Entries(DriveC());
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"source.exe", "target.exe"}));
}

TEST_F(FileOpsTest, CopyFileKeepsTheDosAttributes) {
  WriteHostFile(DriveC("a"), "x");
  ASSERT_TRUE(SetFileAttributesA("c:\\a", FILE_ATTRIBUTE_HIDDEN));
  if (GetFileAttributesA("c:\\a") != FILE_ATTRIBUTE_HIDDEN) GTEST_SKIP() << "no user xattrs";
  ASSERT_TRUE(CopyFileA("c:\\a", "c:\\b", false));
  EXPECT_EQ(GetFileAttributesA("c:\\b"), FILE_ATTRIBUTE_HIDDEN);
}

TEST_F(FileOpsTest, CopyFileWithFailIfExistsLeavesTheTarget) {
  WriteHostFile(DriveC("a"), "new");
  WriteHostFile(DriveC("b"), "old");
  EXPECT_FALSE(CopyFileA("c:\\a", "c:\\b", true));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_EQ(ReadHostFile(DriveC("b")), "old");
  EXPECT_TRUE(CopyFileA("c:\\a", "c:\\c", true));
  EXPECT_EQ(ReadHostFile(DriveC("c")), "new");
  EXPECT_EQ(Entries(DriveC()).size(), 3u);
}

TEST_F(FileOpsTest, CopyFileRefusesAReadOnlyTargetAndAMissingSource) {
  WriteHostFile(DriveC("a"), "new");
  WriteHostFile(DriveC("b"), "old");
  ASSERT_EQ(::chmod(DriveC("b").c_str(), 0444), 0);
  EXPECT_FALSE(CopyFileA("c:\\a", "c:\\b", false));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(ReadHostFile(DriveC("b")), "old");
  EXPECT_FALSE(CopyFileA("c:\\missing", "c:\\x", false));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(CopyFileA("c:\\a", "c:\\no folder\\x", false));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(CopyFileA("c:\\a", "c:\\A", false));  // the same file
  EXPECT_EQ(ReadHostFile(DriveC("a")), "new");
}

TEST_F(FileOpsTest, CopyFileBetweenDrives) {
  WriteHostFile(Scratch("outside.txt"), "from Z:");
  ASSERT_TRUE(CopyFileA(Win(Scratch("outside.txt")).c_str(), "c:\\inside.txt", false));
  EXPECT_EQ(ReadHostFile(DriveC("inside.txt")), "from Z:");
}

TEST_F(FileOpsTest, MoveFileRenamesButNeverReplaces) {
  WriteHostFile(DriveC("a"), "a");
  WriteHostFile(DriveC("b"), "b");
  EXPECT_FALSE(MoveFileA("c:\\a", "c:\\B"));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_TRUE(MoveFileA("c:\\a", "c:\\c"));
  EXPECT_EQ(ReadHostFile(DriveC("c")), "a");
  EXPECT_FALSE(HostExists(DriveC("a")));
  EXPECT_FALSE(MoveFileA("c:\\a", "c:\\d"));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(FileOpsTest, MoveFileCanChangeOnlyTheCase) {
  WriteHostFile(DriveC("readme.txt"), "r");
  EXPECT_TRUE(MoveFileA("c:\\readme.txt", "c:\\ReadMe.TXT"));
  EXPECT_EQ(Entries(DriveC()), std::vector<std::string>{"ReadMe.TXT"});
}

TEST_F(FileOpsTest, MoveFileMovesFolders) {
  ASSERT_EQ(::mkdir(DriveC("old").c_str(), 0777), 0);
  WriteHostFile(DriveC("old/f"), "f");
  EXPECT_TRUE(MoveFileA("c:\\old", "c:\\new"));
  EXPECT_EQ(ReadHostFile(DriveC("new/f")), "f");
}

TEST_F(FileOpsTest, CreateFileFollowsTheDisposition) {
  HANDLE h = CreateFileA("c:\\f", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  ASSERT_EQ(::write(static_cast<int>(h), "hello", 5), 5);
  EXPECT_TRUE(FlushFileBuffers(h));
  EXPECT_TRUE(CloseHandle(h));

  EXPECT_EQ(CreateFileA("c:\\F", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);

  h = CreateFileA("c:\\F", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(ReadHostFile(DriveC("f")), "hello");

  h = CreateFileA("c:\\f", GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(ReadHostFile(DriveC("f")), "");

  EXPECT_EQ(CreateFileA("c:\\none", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, 0),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(CreateFileA("c:\\f", GENERIC_READ, 0, nullptr, 99, 0, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(FileOpsTest, CreateFileRefusesFoldersAndWritingReadOnlyFiles) {
  EXPECT_EQ(CreateFileA("c:\\", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  HANDLE folder = CreateFileA("c:\\", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, 0);
  ASSERT_NE(folder, INVALID_HANDLE_VALUE);
  CloseHandle(folder);

  WriteHostFile(DriveC("ro"), "keep");
  ASSERT_EQ(::chmod(DriveC("ro").c_str(), 0444), 0);
  EXPECT_EQ(CreateFileA("c:\\ro", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, 0),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(CreateFileA("c:\\ro", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, 0),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadHostFile(DriveC("ro")), "keep");
}

TEST_F(FileOpsTest, AHandleWithoutSharingKeepsOthersOut) {
  WriteHostFile(DriveC("locked"), "data");
  HANDLE first = CreateFileA("c:\\locked", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, 0);
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateFileA("c:\\locked", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, 0, 0),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  // Not even CREATE_ALWAYS empties it meanwhile.
  EXPECT_EQ(CreateFileA("c:\\locked", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, 0),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadHostFile(DriveC("locked")), "data");
  EXPECT_TRUE(CloseHandle(first));
  HANDLE again = CreateFileA("c:\\locked", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, 0);
  ASSERT_NE(again, INVALID_HANDLE_VALUE);
  CloseHandle(again);
}

TEST_F(FileOpsTest, CloseHandleRejectsWhatIsNoHandle) {
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  int fd = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::close(fd), 0);
  EXPECT_FALSE(CloseHandle(fd));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
}  // namespace velmora
