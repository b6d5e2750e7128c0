// The record of open ttys, in fixed static storage with atomic slots, so that a signal handler
// can walk it while other threads open and close ports.
#include "open_ports.h"

#include <sys/ioctl.h>

#include <atomic>

namespace {

constexpr int kSlots = 256;

struct Slot {
  std::atomic<int> fd{-1};  // -1: free; -2: being filled
  termios found;
};
Slot slots[kSlots];
std::atomic<bool> puttingBack{false};

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
  for (Slot& slot : slots) {
    int fd = slot.fd.load(std::memory_order_acquire);
    if (fd < 0) continue;
    tcsetattr(fd, TCSANOW, &slot.found);
    ioctl(fd, TIOCNXCL);
  }
}

bool OpenPortsPutBack() { return puttingBack.load(); }
