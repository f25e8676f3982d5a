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

}  // namespace

bool OpenSetupLog(const std::string& host_path) {
  CloseSetupLog();
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

}  // namespace velmora
