// File times. A FILETIME counts 100 ns intervals since 1601-01-01. As on
// Windows, DosDateTimeToFileTime and FileTimeToDosDateTime only change the
// form (a DOS time is local time, so the FILETIME they make or take is a
// local one); LocalFileTimeToFileTime and FileTimeToLocalFileTime move
// between local time and UTC with the process time zone's offset at that
// instant, DST included.
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <ctime>

#include "platform/host_files.h"
#include "platform/win32.h"

namespace velmora {

namespace {

constexpr int64_t kTicksPerSecond = 10'000'000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t kEpochDifferenceSeconds = 11'644'473'600;

int64_t TicksOf(const FILETIME& time) {
  return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                              time.dwLowDateTime);
}

FILETIME FileTimeOf(int64_t ticks) {
  FILETIME out;
  auto value = static_cast<uint64_t>(ticks);
  out.dwLowDateTime = static_cast<DWORD>(value);
  out.dwHighDateTime = static_cast<DWORD>(value >> 32);
  return out;
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back (the
// algorithms of Howard Hinnant's "chrono-compatible low-level date
// algorithms").
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto year_of_era = static_cast<unsigned>(year - era * 400);
  const unsigned day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + static_cast<int64_t>(day_of_era) - 719468;
}

void CivilFromDays(int64_t days, int64_t* year, unsigned* month, unsigned* day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto day_of_era = static_cast<unsigned>(days - era * 146097);
  const unsigned year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const unsigned mp = (5 * day_of_year + 2) / 153;
  *day = day_of_year - (153 * mp + 2) / 5 + 1;
  *month = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int64_t>(year_of_era) + era * 400 + (*month <= 2);
}

unsigned DaysInMonth(int64_t year, unsigned month) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// Floor division, so times before 1970 split into seconds and a
// non-negative remainder.
int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// The process time zone's offset from UTC, in seconds, at a UTC instant.
int64_t OffsetAt(int64_t unix_seconds) {
  auto t = static_cast<time_t>(unix_seconds);
  struct tm local {};
  if (::localtime_r(&t, &local) == nullptr) return 0;
  return local.tm_gmtoff;
}

bool ValidHandle(HANDLE handle) { return handle >= 0 && handle <= INT32_MAX; }

FILETIME FromTimespec(const struct timespec& ts) {
  return FileTimeOf((static_cast<int64_t>(ts.tv_sec) + kEpochDifferenceSeconds) * kTicksPerSecond +
                    ts.tv_nsec / 100);
}

struct timespec ToTimespec(const FILETIME& time) {
  int64_t ticks = TicksOf(time) - kEpochDifferenceSeconds * kTicksPerSecond;
  struct timespec ts {};
  ts.tv_sec = static_cast<time_t>(FloorDiv(ticks, kTicksPerSecond));
  ts.tv_nsec = static_cast<long>((ticks - FloorDiv(ticks, kTicksPerSecond) * kTicksPerSecond) * 100);
  return ts;
}

}  // namespace

bool DosDateTimeToFileTime(WORD fat_date, WORD fat_time, FILETIME* file_time) {
  // Date: year since 1980 in bits 9-15, month 5-8, day 0-4. Time: hour in
  // bits 11-15, minute 5-10, seconds / 2 in 0-4.
  int64_t year = 1980 + (fat_date >> 9);
  unsigned month = (fat_date >> 5) & 0x0F;
  unsigned day = fat_date & 0x1F;
  unsigned hour = fat_time >> 11;
  unsigned minute = (fat_time >> 5) & 0x3F;
  unsigned second = (fat_time & 0x1F) * 2;
  // Fields that name no moment fail the call, as they do in Wine.
  if (file_time == nullptr || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
      hour > 23 || minute > 59 || second > 59) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  int64_t seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  *file_time = FileTimeOf((seconds + kEpochDifferenceSeconds) * kTicksPerSecond);
  return true;
}

bool FileTimeToDosDateTime(const FILETIME* file_time, WORD* fat_date, WORD* fat_time) {
  if (file_time == nullptr || fat_date == nullptr || fat_time == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  int64_t seconds = TicksOf(*file_time) / kTicksPerSecond - kEpochDifferenceSeconds;
  int64_t days = FloorDiv(seconds, 86400);
  int64_t second_of_day = seconds - days * 86400;
  int64_t year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(days, &year, &month, &day);
  // A DOS date holds the years 1980 to 2107.
  if (year < 1980 || year > 2107) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  *fat_date = static_cast<WORD>(((year - 1980) << 9) | (month << 5) | day);
  *fat_time = static_cast<WORD>(((second_of_day / 3600) << 11) | (((second_of_day / 60) % 60) << 5) |
                                ((second_of_day % 60) / 2));
  return true;
}

bool LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc) {
  if (local == nullptr || utc == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  int64_t ticks = TicksOf(*local);
  int64_t local_seconds = FloorDiv(ticks, kTicksPerSecond) - kEpochDifferenceSeconds;
  // The offset depends on the instant sought: guess with the offset at the
  // local reading taken as UTC, then take the offset at the guess. Around a
  // DST change this settles on one of the two readings, as mktime does.
  int64_t guess = local_seconds - OffsetAt(local_seconds);
  int64_t offset = OffsetAt(guess);
  *utc = FileTimeOf(ticks - offset * kTicksPerSecond);
  return true;
}

bool FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local) {
  if (utc == nullptr || local == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  int64_t ticks = TicksOf(*utc);
  int64_t offset = OffsetAt(FloorDiv(ticks, kTicksPerSecond) - kEpochDifferenceSeconds);
  *local = FileTimeOf(ticks + offset * kTicksPerSecond);
  return true;
}

bool SetFileTime(HANDLE handle, const FILETIME* /*creation*/, const FILETIME* last_access,
                 const FILETIME* last_write) {
  if (!ValidHandle(handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  // Linux keeps no creation time that can be set; it is left alone.
  struct timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_OMIT}};
  if (last_access != nullptr) times[0] = ToTimespec(*last_access);
  if (last_write != nullptr) times[1] = ToTimespec(*last_write);
  if (::futimens(static_cast<int>(handle), times) != 0) return host::Fail();
  return true;
}

bool GetFileTime(HANDLE handle, FILETIME* creation, FILETIME* last_access, FILETIME* last_write) {
  if (!ValidHandle(handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  struct stat st {};
  if (::fstat(static_cast<int>(handle), &st) != 0) return host::Fail();
  // No settable creation time on Linux: the modification time stands in.
  if (creation != nullptr) *creation = FromTimespec(st.st_mtim);
  if (last_access != nullptr) *last_access = FromTimespec(st.st_atim);
  if (last_write != nullptr) *last_write = FromTimespec(st.st_mtim);
  return true;
}

namespace host {
FILETIME FileTimeFromTimespec(const struct timespec& ts) { return FromTimespec(ts); }
struct timespec TimespecFromFileTime(const FILETIME& time) { return ToTimespec(time); }
}  // namespace host

}  // namespace velmora
