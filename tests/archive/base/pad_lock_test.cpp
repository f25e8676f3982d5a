#include "archive/base/pad_lock.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace velmora {
namespace {

TEST(TAbPadLock, DoesNothingInASingleThreadedProcess) {
  if (IsMultiThread()) GTEST_SKIP() << "the test runner already runs other threads";
  TAbPadLock lock;
  lock.SetLocked(true);
  EXPECT_FALSE(lock.Locked());
  lock.SetLocked(false);  // unbalanced releases are ignored
  EXPECT_FALSE(lock.Locked());
}

// Keeps a second thread alive so that the process counts as multi-threaded.
class SecondThread {
 public:
  SecondThread()
      : thread_([this] {
          std::unique_lock<std::mutex> hold(mutex_);
          done_.wait(hold, [this] { return stop_; });
        }) {}
  ~SecondThread() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      stop_ = true;
    }
    done_.notify_one();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool stop_ = false;
  std::thread thread_;
};

TEST(TAbPadLock, IsReentrantAndCountsItsHoldsWithThreads) {
  SecondThread other;
  ASSERT_TRUE(IsMultiThread());
  TAbPadLock lock;
  lock.SetLocked(true);
  lock.SetLocked(true);
  EXPECT_TRUE(lock.Locked());
  lock.SetLocked(false);
  EXPECT_TRUE(lock.Locked());
  lock.SetLocked(false);
  EXPECT_FALSE(lock.Locked());
  lock.SetLocked(false);  // more releases than holds do not underflow
  EXPECT_FALSE(lock.Locked());
  lock.SetLocked(true);
  EXPECT_TRUE(lock.Locked());
  lock.SetLocked(false);
}

TEST(TAbPadLock, AnotherThreadGetsTheLockOnceReleased) {
  SecondThread other;
  TAbPadLock lock;
  lock.SetLocked(true);
  lock.SetLocked(false);
  bool taken = false;
  std::thread([&] {
    lock.SetLocked(true);
    taken = lock.Locked();
    lock.SetLocked(false);
  }).join();
  EXPECT_TRUE(taken);
}

}  // namespace
}  // namespace velmora
