// The record of open ttys, in fixed static storage with atomic slots, so that a signal handler
// can walk it while other threads open and close ports.
#include "open_ports.h"

#include <sys/ioctl.h>

#include <atomic>
#include <ctime>

namespace {

constexpr int kSlots = 256;
// How long the put-back waits for a change under way: one interrupted on the signal's own
// thread never ends, and the process must end all the same.
constexpr int kChangeWaitMs = 100;

struct Slot {
  std::atomic<int> fd{-1};  // -1: free; -2: being filled
  termios found;
};
Slot slots[kSlots];
std::atomic<bool> puttingBack{false};
std::atomic<int> changesUnderWay{0};

// Both sides announce themselves before they look at the other (sequentially consistent), so
// either the change sees the put-back coming and is not made, or the put-back waits for it.
void AwaitChangesUnderWay() {
  timespec millisecond{0, 1000000};
  for (int waited = 0; changesUnderWay.load() > 0 && waited < kChangeWaitMs; waited++) {
    nanosleep(&millisecond, nullptr);
  }
}

}  // namespace

void RememberOpenPort(int fd, const termios& found) {
  for (Slot& slot : slots) {
    int expected = -1;
    if (!slot.fd.compare_exchange_strong(expected, -2)) continue;
    slot.found = found;
    slot.fd.store(fd, std::memory_order_release);
    return;
  }
}

void ForgetOpenPort(int fd) {
  for (Slot& slot : slots) {
    int expected = fd;
    if (slot.fd.compare_exchange_strong(expected, -1)) return;
  }
}

void PutBackOpenPorts() {
  puttingBack.store(true);
  AwaitChangesUnderWay();
  for (Slot& slot : slots) {
    int fd = slot.fd.load(std::memory_order_acquire);
    if (fd < 0) continue;
    tcsetattr(fd, TCSANOW, &slot.found);
    ioctl(fd, TIOCNXCL);
  }
}

bool BeginSettingsChange() {
  changesUnderWay.fetch_add(1);
  if (!puttingBack.load()) return true;
  changesUnderWay.fetch_sub(1);
  return false;
}

void EndSettingsChange() { changesUnderWay.fetch_sub(1); }
