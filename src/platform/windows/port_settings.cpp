// The found settings of the ports open in this process, in fixed static storage under one lock
// that the Ctrl-C handler takes and never gives back.
#include "../port_settings.h"

namespace {

constexpr int kSlots = 64;

struct Slot {
  HANDLE port;  // null when free
  DCB state;
  COMMTIMEOUTS timeouts;
};
Slot slots[kSlots];
SRWLOCK lock = SRWLOCK_INIT;

}  // namespace

void KeepFoundSettings(HANDLE port, const DCB& state, const COMMTIMEOUTS& timeouts) {
  AcquireSRWLockExclusive(&lock);
  for (Slot& slot : slots) {
    if (slot.port != nullptr) continue;
    slot = Slot{port, state, timeouts};
    break;
  }
  ReleaseSRWLockExclusive(&lock);
}

void DropFoundSettings(HANDLE port) {
  AcquireSRWLockExclusive(&lock);
  for (Slot& slot : slots) {
    if (slot.port == port) slot.port = nullptr;
  }
  ReleaseSRWLockExclusive(&lock);
}

void PutBackFoundSettings() {
  AcquireSRWLockExclusive(&lock);
  for (Slot& slot : slots) {
    if (slot.port == nullptr) continue;
    SetCommState(slot.port, &slot.state);
    SetCommTimeouts(slot.port, &slot.timeouts);
  }
}
