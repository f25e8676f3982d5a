#include "platform/mapped_window.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

namespace velmora {

namespace {

// Views alive at once: one per thread reading an archive is plenty.
constexpr int kSlots = 16;

struct Slot {
  std::atomic<bool> taken{false};
  std::atomic<uintptr_t> begin{0};  // 0 while the slot holds no mapping
  std::atomic<uintptr_t> end{0};
  std::atomic<bool> damaged{false};
};

Slot g_slots[kSlots];
struct sigaction g_previous {};

void OnBusError(int signal_number, siginfo_t* info, void* context) {
  const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
  for (Slot& slot : g_slots) {
    const uintptr_t begin = slot.begin.load(std::memory_order_acquire);
    if (begin == 0 || address < begin || address >= slot.end.load(std::memory_order_acquire)) {
      continue;
    }
    // Zero pages over the whole view; the faulting read runs again on them.
    void* zeros = ::mmap(reinterpret_cast<void*>(begin), slot.end.load() - begin, PROT_READ,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (zeros != MAP_FAILED) {
      slot.damaged.store(true, std::memory_order_release);
      return;
    }
    break;
  }
  if ((g_previous.sa_flags & SA_SIGINFO) != 0 && g_previous.sa_sigaction != nullptr) {
    g_previous.sa_sigaction(signal_number, info, context);
  } else if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
    g_previous.sa_handler(signal_number);
  } else {
    // Not ours: back to the default, and the faulting access ends the
    // process as it would have without us.
    ::signal(SIGBUS, SIG_DFL);
  }
}

void InstallBusErrorHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &g_previous);
  });
}

int ClaimSlot() {
  for (int i = 0; i < kSlots; ++i) {
    bool expected = false;
    if (g_slots[i].taken.compare_exchange_strong(expected, true)) {
      g_slots[i].damaged.store(false);
      return i;
    }
  }
  return -1;
}

}  // namespace

bool MappedWindow::Map(int fd, int64_t offset, size_t length) {
  Unmap();
  if (length == 0 || offset < 0) return false;
  InstallBusErrorHandler();
  const int slot = ClaimSlot();
  if (slot < 0) return false;
  const auto page = static_cast<int64_t>(::sysconf(_SC_PAGESIZE));
  const int64_t aligned = offset - offset % page;
  const auto mapped_length = static_cast<size_t>(offset - aligned) + length;
  // MAP_POPULATE reads the view in with one call rather than a fault per
  // few pages.
  void* mapping = ::mmap(nullptr, mapped_length, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd,
                         static_cast<off_t>(aligned));
  if (mapping == MAP_FAILED) {
    g_slots[slot].taken.store(false);
    return false;
  }
  const auto begin = reinterpret_cast<uintptr_t>(mapping);
  g_slots[slot].end.store(begin + mapped_length, std::memory_order_release);
  g_slots[slot].begin.store(begin, std::memory_order_release);
  slot_ = slot;
  mapping_ = mapping;
  mapping_length_ = mapped_length;
  data_ = static_cast<const uint8_t*>(mapping) + (offset - aligned);
  start_ = offset;
  end_ = offset + static_cast<int64_t>(length);
  return true;
}

void MappedWindow::Unmap() {
  if (mapping_ == nullptr) return;
  g_slots[slot_].begin.store(0, std::memory_order_release);
  ::munmap(mapping_, mapping_length_);
  g_slots[slot_].taken.store(false, std::memory_order_release);
  mapping_ = nullptr;
  data_ = nullptr;
  mapping_length_ = 0;
  start_ = end_ = 0;
  slot_ = -1;
}

bool MappedWindow::Damaged() const {
  return slot_ >= 0 && g_slots[slot_].damaged.load(std::memory_order_acquire);
}

}  // namespace velmora
