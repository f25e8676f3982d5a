#include "app/setup_log.h"

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace velmora {
namespace {

int g_log_fd = -1;
long g_utc_offset = 0;  // seconds east of UTC when the log was opened

std::string Now() {
  timeval now{};
  ::gettimeofday(&now, nullptr);
  tm local{};
  ::localtime_r(&now.tv_sec, &local);
  char text[40];
  size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(text + n, sizeof text - n, ".%03d", static_cast<int>(now.tv_usec / 1000));
  return text;
}

// Appends value as digits zero-padded to width at *at.
void PutNumber(char*& at, long value, int width) {
  for (int i = width - 1; i >= 0; --i, value /= 10) at[i] = static_cast<char>('0' + value % 10);
  at += width;
}

}  // namespace

bool OpenSetupLog(const std::string& host_path) {
  CloseSetupLog();
  const time_t now = ::time(nullptr);
  tm local{};
  if (::localtime_r(&now, &local) != nullptr) g_utc_offset = local.tm_gmtoff;
  g_log_fd = ::open(host_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
  return g_log_fd >= 0;
}

void CloseSetupLog() {
  if (g_log_fd >= 0) ::close(g_log_fd);
  g_log_fd = -1;
}

bool SetupLogOpen() { return g_log_fd >= 0; }

void LogStep(const std::string& what) {
  if (g_log_fd < 0) return;
  std::string line = Now() + " " + what + "\n";
  // One write per line; a log that fails to take a line does not stop the
  // installation it describes.
  const char* at = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = ::write(g_log_fd, at, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    at += n;
    left -= static_cast<size_t>(n);
  }
}

void LogStepFromSignalHandler(const char* what) {
  if (g_log_fd < 0) return;
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  // The civil date of the local day (days from 1970-01-01, in the
  // proleptic Gregorian calendar), without the time zone database.
  const long seconds = static_cast<long>(now.tv_sec) + g_utc_offset;
  long days = seconds / 86400, in_day = seconds % 86400;
  if (in_day < 0) {
    in_day += 86400;
    --days;
  }
  days += 719468;
  const long era = (days >= 0 ? days : days - 146096) / 146097;
  const long of_era = days - era * 146097;
  const long year_of_era = (of_era - of_era / 1460 + of_era / 36524 - of_era / 146096) / 365;
  const long day_of_year = of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const long month_index = (5 * day_of_year + 2) / 153;
  const long day = day_of_year - (153 * month_index + 2) / 5 + 1;
  const long month = month_index < 10 ? month_index + 3 : month_index - 9;
  const long year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
  char line[512];
  char* at = line;
  PutNumber(at, year, 4);
  *at++ = '-';
  PutNumber(at, month, 2);
  *at++ = '-';
  PutNumber(at, day, 2);
  *at++ = ' ';
  PutNumber(at, in_day / 3600, 2);
  *at++ = ':';
  PutNumber(at, in_day / 60 % 60, 2);
  *at++ = ':';
  PutNumber(at, in_day % 60, 2);
  *at++ = '.';
  PutNumber(at, now.tv_nsec / 1000000, 3);
  *at++ = ' ';
  for (const char* c = what; *c != '\0' && at < line + sizeof line - 1; ++c) *at++ = *c;
  *at++ = '\n';
  (void)!::write(g_log_fd, line, static_cast<size_t>(at - line));
}

}  // namespace velmora
