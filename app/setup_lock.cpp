#include "app/setup_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/paths.h"

namespace velmora {

TSetupLock::~TSetupLock() {
  // Closing releases the lock; the file stays, so that no second installer
  // ever locks a file that a third has just removed and made anew.
  if (fd_ >= 0) ::close(fd_);
}

std::string TSetupLock::LockFile() { return VelmoraPrefix() + "/velmora-setup.lock"; }

bool TSetupLock::Acquire() {
  if (fd_ >= 0) return true;
  // Close-on-exec, so the programs the installer starts (an opener that
  // stays, a sub-installer left running) never hold it for us.
  int fd = ::open(LockFile().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return true;
  int result;
  do {
    result = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    const int why = errno;
    ::close(fd);
    return why != EWOULDBLOCK;
  }
  fd_ = fd;
  return true;
}

namespace {

// The process holding a flock on the file with this device and inode, from
// /proc/locks ("1: FLOCK  ADVISORY  WRITE 4242 fd:01:1234567 0 EOF"); 0
// when none is listed.
long FlockHolder(dev_t device, ino_t inode) {
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream fields(line);
    std::string number, kind, mode, access, where;
    long pid = 0;
    if (!(fields >> number >> kind >> mode >> access >> pid >> where) || kind != "FLOCK") continue;
    unsigned major_number = 0, minor_number = 0;
    uintmax_t found_inode = 0;
    if (std::sscanf(where.c_str(), "%x:%x:%ju", &major_number, &minor_number, &found_inode) == 3 &&
        major_number == major(device) && minor_number == minor(device) &&
        found_inode == static_cast<uintmax_t>(inode)) {
      return pid;
    }
  }
  return 0;
}

// A process's command line, its arguments joined by blanks.
std::string CommandLine(long pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!text.empty() && text.back() == '\0') text.pop_back();
  for (char& c : text) {
    if (c == '\0') c = ' ';
  }
  return text;
}

}  // namespace

std::string TSetupLock::HolderText() {
  const std::string file = LockFile();
  struct stat st {};
  const long pid = ::stat(file.c_str(), &st) == 0 ? FlockHolder(st.st_dev, st.st_ino) : 0;
  if (pid <= 0) return "another installer holds " + file;
  const std::string command = CommandLine(pid);
  return "process " + std::to_string(pid) + (command.empty() ? "" : " (" + command + ")") +
         " holds " + file;
}

}  // namespace velmora
