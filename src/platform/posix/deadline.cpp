// Millisecond deadlines on the monotonic clock.
#include "deadline.h"

timespec DeadlineAfter(uint32_t milliseconds, clockid_t clock) {
  timespec now;
  clock_gettime(clock, &now);
  now.tv_sec += milliseconds / 1000;
  now.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (now.tv_nsec >= 1000000000L) {
    now.tv_sec += 1;
    now.tv_nsec -= 1000000000L;
  }
  return now;
}

uint32_t MillisecondsUntil(const timespec& deadline) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  int64_t leftNs = (static_cast<int64_t>(deadline.tv_sec) - now.tv_sec) * 1000000000LL +
                   (deadline.tv_nsec - now.tv_nsec);
  if (leftNs <= 0) return 0;
  // Rounded up, so that a wait never ends before its deadline.
  int64_t leftMs = (leftNs + 999999) / 1000000;
  return leftMs > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(leftMs);
}
