// A stand-in for one of the outside vendor's programs that the installer
// carries. It only says that it ran: one line, its name and its arguments,
// appended to $VELMORA_PREFIX/standins.log (~/.velmora/standins.log by
// default), and exits 0. Built once per program, with the program's name
// in VELMORA_STAND_IN_NAME.
//
// For tests that look at the installer while it waits: when
// VELMORA_STAND_IN_HOLD names a FIFO, the program, once its line is written,
// stays until a writer has opened that FIFO and closed it again.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#ifndef VELMORA_STAND_IN_NAME
#error "VELMORA_STAND_IN_NAME names the program this stands in for"
#endif

namespace {

std::string LogPath() {
  const char* prefix = std::getenv("VELMORA_PREFIX");
  if (prefix != nullptr && *prefix != '\0') return std::string(prefix) + "/standins.log";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.velmora/standins.log";
}

}  // namespace

int main(int argc, char** argv) {
  std::string line = VELMORA_STAND_IN_NAME;
  for (int i = 1; i < argc; ++i) line += std::string(" ") + argv[i];
  line += '\n';
  // One write on an O_APPEND descriptor, so lines of programs that run at
  // the same time never mix.
  int fd = ::open(LogPath().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return 0;
  ssize_t written;
  do {
    written = ::write(fd, line.data(), line.size());
  } while (written < 0 && errno == EINTR);
  ::close(fd);
  const char* hold = std::getenv("VELMORA_STAND_IN_HOLD");
  if (hold != nullptr && *hold != '\0') {
    // Opening blocks until a writer comes; reading ends when it has gone.
    int fifo = ::open(hold, O_RDONLY | O_CLOEXEC);
    for (char byte; fifo >= 0;) {
      ssize_t n = ::read(fifo, &byte, 1);
      if (n == 0 || (n < 0 && errno != EINTR)) break;
    }
    if (fifo >= 0) ::close(fifo);
  }
  return 0;
}
