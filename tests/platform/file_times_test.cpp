#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <string>

#include "platform/win32.h"
#include "tests/platform/platform_fixture.h"

namespace velmora {
namespace {

// Central European time, with its DST rules spelled out so no tz database
// is needed: UTC+1 in winter, UTC+2 from the last Sunday of March 02:00 to
// the last Sunday of October 03:00.
constexpr const char* kCentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";

class FileTimesTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    tz_.emplace("TZ", kCentralEurope);
    ::tzset();
  }
  void TearDown() override {
    tz_.reset();
    ::tzset();
    PlatformTest::TearDown();
  }
  std::optional<ScopedEnv> tz_;
};

constexpr int64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kEpochDifferenceSeconds = 11'644'473'600;

WORD DosDate(int year, int month, int day) {
  return static_cast<WORD>(((year - 1980) << 9) | (month << 5) | day);
}
WORD DosTime(int hour, int minute, int second) {
  return static_cast<WORD>((hour << 11) | (minute << 5) | (second / 2));
}

int64_t Ticks(const FILETIME& t) {
  return static_cast<int64_t>((uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime);
}

// Seconds since 1970 of a calendar reading taken as UTC.
int64_t UtcSeconds(int year, int month, int day, int hour, int minute, int second) {
  struct tm fields {};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  return ::timegm(&fields);
}

int64_t TicksOfUnix(int64_t seconds) { return (seconds + kEpochDifferenceSeconds) * kTicksPerSecond; }

TEST_F(FileTimesTest, DosDateTimeToFileTimeOnlyChangesTheForm) {
  FILETIME ft;
  ASSERT_TRUE(DosDateTimeToFileTime(DosDate(2021, 7, 15), DosTime(12, 34, 56), &ft));
  EXPECT_EQ(Ticks(ft), TicksOfUnix(UtcSeconds(2021, 7, 15, 12, 34, 56)));
  ASSERT_TRUE(DosDateTimeToFileTime(DosDate(1980, 1, 1), 0, &ft));
  EXPECT_EQ(Ticks(ft), TicksOfUnix(UtcSeconds(1980, 1, 1, 0, 0, 0)));
  ASSERT_TRUE(DosDateTimeToFileTime(DosDate(2107, 12, 31), DosTime(23, 59, 58), &ft));
  EXPECT_EQ(Ticks(ft), TicksOfUnix(UtcSeconds(2107, 12, 31, 23, 59, 58)));
}

TEST_F(FileTimesTest, LocalTimeUsesTheOffsetAtThatInstant) {
  FILETIME local, utc;
  // Summer: CEST, two hours ahead of UTC.
  ASSERT_TRUE(DosDateTimeToFileTime(DosDate(2021, 7, 15), DosTime(12, 34, 56), &local));
  ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
  EXPECT_EQ(Ticks(utc), TicksOfUnix(UtcSeconds(2021, 7, 15, 10, 34, 56)));
  // Winter: CET, one hour ahead.
  ASSERT_TRUE(DosDateTimeToFileTime(DosDate(2021, 1, 15), DosTime(12, 0, 0), &local));
  ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
  EXPECT_EQ(Ticks(utc), TicksOfUnix(UtcSeconds(2021, 1, 15, 11, 0, 0)));
  FILETIME back;
  ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &back));
  EXPECT_EQ(Ticks(back), Ticks(local));
}

TEST_F(FileTimesTest, DosTimeRoundTripsThroughLocalTimeAllYear) {
  for (int month = 1; month <= 12; ++month) {
    for (int day = 1; day <= 28; ++day) {
      for (int hour : {0, 2, 13, 23}) {
        // 02:00 to 03:00 on the last Sunday of March does not exist locally.
        if (month == 3 && day >= 25 && hour == 2) continue;
        WORD date = DosDate(2021, month, day), time = DosTime(hour, 37, 42);
        FILETIME local, utc, local_again;
        ASSERT_TRUE(DosDateTimeToFileTime(date, time, &local));
        ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
        ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local_again));
        WORD date_again = 0, time_again = 0;
        ASSERT_TRUE(FileTimeToDosDateTime(&local_again, &date_again, &time_again));
        EXPECT_EQ(date_again, date) << month << "/" << day << " " << hour;
        EXPECT_EQ(time_again, time) << month << "/" << day << " " << hour;
      }
    }
  }
}

TEST_F(FileTimesTest, DosSecondsAreEven) {
  FILETIME ft;
  WORD date = 0, time = 0;
  ASSERT_TRUE(DosDateTimeToFileTime(DosDate(2000, 2, 29), DosTime(1, 2, 3), &ft));
  ASSERT_TRUE(FileTimeToDosDateTime(&ft, &date, &time));
  EXPECT_EQ(date, DosDate(2000, 2, 29));
  EXPECT_EQ(time, DosTime(1, 2, 2));
  EXPECT_EQ(Ticks(ft), TicksOfUnix(UtcSeconds(2000, 2, 29, 1, 2, 2)));
}

TEST_F(FileTimesTest, DosValuesThatNameNoMomentFail) {
  FILETIME ft;
  EXPECT_FALSE(DosDateTimeToFileTime(DosDate(2021, 0, 1), 0, &ft));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(DosDateTimeToFileTime(DosDate(2021, 13, 1), 0, &ft));
  EXPECT_FALSE(DosDateTimeToFileTime(DosDate(2021, 2, 29), 0, &ft));
  EXPECT_FALSE(DosDateTimeToFileTime(DosDate(2021, 1, 0), 0, &ft));
  EXPECT_FALSE(DosDateTimeToFileTime(DosDate(2021, 1, 1), DosTime(24, 0, 0), &ft));
  EXPECT_FALSE(DosDateTimeToFileTime(DosDate(2021, 1, 1), DosTime(0, 60, 0), &ft));
  EXPECT_FALSE(DosDateTimeToFileTime(DosDate(2021, 1, 1), 0x1F, &ft));  // 62 seconds
}

TEST_F(FileTimesTest, FileTimesOutsideTheDosYearsFail) {
  FILETIME ft;
  WORD date = 0, time = 0;
  int64_t ticks = TicksOfUnix(UtcSeconds(1979, 12, 31, 23, 59, 59));
  ft.dwLowDateTime = static_cast<DWORD>(ticks);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  EXPECT_FALSE(FileTimeToDosDateTime(&ft, &date, &time));
  ticks = TicksOfUnix(UtcSeconds(2108, 1, 1, 0, 0, 0));
  ft.dwLowDateTime = static_cast<DWORD>(ticks);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  EXPECT_FALSE(FileTimeToDosDateTime(&ft, &date, &time));
}

TEST_F(FileTimesTest, SetFileTimeSetsTheModificationTimeFromADosStamp) {
  WriteHostFile(DriveC("item.txt"), "x");
  // The way the extraction driver stamps a file: DOS → local → UTC → mtime.
  HANDLE h = CreateFileA("c:\\item.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FILETIME local, utc;
  ASSERT_TRUE(DosDateTimeToFileTime(DosDate(2021, 7, 15), DosTime(12, 34, 56), &local));
  ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
  struct stat before {};
  ASSERT_EQ(::stat(DriveC("item.txt").c_str(), &before), 0);
  ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &utc));
  FILETIME creation, access, write;
  ASSERT_TRUE(GetFileTime(h, &creation, &access, &write));
  EXPECT_EQ(Ticks(write), Ticks(utc));
  ASSERT_TRUE(CloseHandle(h));

  struct stat st {};
  ASSERT_EQ(::stat(DriveC("item.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, UtcSeconds(2021, 7, 15, 10, 34, 56));
  EXPECT_EQ(st.st_mtim.tv_nsec, 0);
  // The access time was left alone.
  EXPECT_EQ(st.st_atim.tv_sec, before.st_atim.tv_sec);
}

TEST_F(FileTimesTest, TimesBefore1970KeepTheirFraction) {
  WriteHostFile(DriveC("old"), "x");
  HANDLE h = CreateFileA("c:\\old", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  // 1969-12-31 23:59:59.5 UTC.
  int64_t ticks = TicksOfUnix(0) - kTicksPerSecond / 2;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  ASSERT_TRUE(SetFileTime(h, nullptr, &ft, &ft));
  ASSERT_TRUE(CloseHandle(h));
  struct stat st {};
  ASSERT_EQ(::stat(DriveC("old").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, -1);
  EXPECT_EQ(st.st_mtim.tv_nsec, 500'000'000);
  EXPECT_EQ(st.st_atim.tv_sec, -1);
}

TEST_F(FileTimesTest, HandleCallsRejectABadHandle) {
  FILETIME ft;
  EXPECT_FALSE(SetFileTime(INVALID_HANDLE_VALUE, nullptr, nullptr, &ft));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(GetFileTime(INVALID_HANDLE_VALUE, nullptr, nullptr, &ft));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
}  // namespace velmora
