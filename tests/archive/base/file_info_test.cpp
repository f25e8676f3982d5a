#include "archive/base/file_info.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>

#include "scratch_prefix.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

using FileInfoTest = ScratchPrefixTest;

uint32_t PackDos(int year, int month, int day, int hour, int minute, int second) {
  const uint32_t date = static_cast<uint32_t>(((year - 1980) << 9) | (month << 5) | day);
  const uint32_t time = static_cast<uint32_t>((hour << 11) | (minute << 5) | (second / 2));
  return (date << 16) | time;
}

time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

struct stat HostStat(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st;
}

TEST_F(FileInfoTest, SetFileDosDateTimeSetsTheModificationTimeAsLocalTime) {
  WriteHostFile("dated.txt", "content");
  EXPECT_EQ(SetFileDosDateTime(Win("dated.txt"), PackDos(2021, 3, 4, 5, 6, 8)), 0u);
  EXPECT_EQ(HostStat(Host("dated.txt")).st_mtime, LocalTime(2021, 3, 4, 5, 6, 8));
  EXPECT_EQ(ReadHostFile("dated.txt"), "content");  // opened for writing, not truncated
}

TEST_F(FileInfoTest, SetFileDosDateTimeReportsAMissingFile) {
  EXPECT_NE(SetFileDosDateTime(Win("missing.txt"), PackDos(2000, 1, 1, 0, 0, 0)), 0u);
  EXPECT_FALSE(fs::exists(Host("missing.txt")));
}

TEST_F(FileInfoTest, SetFileAttributesOfReadOnlyClearsTheWriteBits) {
  WriteHostFile("ro.txt", "x");
  EXPECT_EQ(SetFileAttributesOf(Win("ro.txt"), 0x01), 0u);
  EXPECT_EQ(HostStat(Host("ro.txt")).st_mode & 0222, 0u);
  EXPECT_EQ(SetFileAttributesOf(Win("ro.txt"), 0x20), 0u);
  EXPECT_NE(HostStat(Host("ro.txt")).st_mode & 0200, 0u);
}

TEST_F(FileInfoTest, SetFileAttributesOfReportsAMissingFile) {
  EXPECT_NE(SetFileAttributesOf(Win("missing.txt"), 0x20), 0u);
}

TEST_F(FileInfoTest, FileSizeOfGivesTheSizeOrMinusOne) {
  WriteHostFile("sized.bin", std::string(12345, 'z'));
  WriteHostFile("empty.bin", "");
  EXPECT_EQ(FileSizeOf(Win("sized.bin")), 12345);
  EXPECT_EQ(FileSizeOf(Win("SIZED.BIN")), 12345);
  EXPECT_EQ(FileSizeOf(Win("empty.bin")), 0);
  EXPECT_EQ(FileSizeOf(Win("missing.bin")), -1);
  EXPECT_EQ(FileSizeOf(Win("s*.bin")), 12345);
  EXPECT_EQ(FileSizeOf("c:\\" + std::string(300, 'l')), -1);
}

TEST_F(FileInfoTest, FileSizeOfIsNotLimitedTo32Bits) {
  WriteHostFile("sparse.bin", "");
  fs::resize_file(Host("sparse.bin"), (uint64_t{5} << 30) + 3);
  EXPECT_EQ(FileSizeOf(Win("sparse.bin")), (int64_t{5} << 30) + 3);
}

TEST_F(FileInfoTest, IsRemovableDriveIsFalseForFixedAndUncPaths) {
  EXPECT_FALSE(IsRemovableDrive("c:\\Program Files\\Velmora\\x.zip"));
  EXPECT_FALSE(IsRemovableDrive("\\\\srv\\share\\x.zip"));
}

}  // namespace
}  // namespace velmora
