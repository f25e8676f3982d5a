// One installation at a time per prefix: the installer holds a lock file in
// the prefix from start to end, and a second one started meanwhile finds it
// taken and does nothing but say so.
#pragma once

#include <string>

namespace velmora {

inline constexpr const char* kAlreadyRunningText = "Velmora Setup is already running.";

class TSetupLock {
 public:
  TSetupLock() = default;
  ~TSetupLock();
  TSetupLock(const TSetupLock&) = delete;
  TSetupLock& operator=(const TSetupLock&) = delete;

  // Takes the prefix's lock without waiting; false when another installer
  // holds it. A prefix where no lock file can be made is not locked (the
  // installation then fails on its own, with the folder's message).
  bool Acquire();
  // The lock file's host path.
  static std::string LockFile();
  // Who holds the lock, for the administrator who finds it taken:
  // "process 4242 (velmora-server-setup --unattended) holds /path/lock",
  // as far as /proc tells; the lock file alone where it does not.
  static std::string HolderText();

 private:
  int fd_ = -1;
};

}  // namespace velmora
