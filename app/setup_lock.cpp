#include "app/setup_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

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

}  // namespace velmora
