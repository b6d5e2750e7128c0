// Draining a write: the kernel's output queue and the line's wire time, within the write
// time-out.
#include "output_drain.h"

#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>

namespace {

constexpr int64_t kNsPerSecond = 1000000000LL;
constexpr int64_t kPollNs = 1000000LL;  // how often a draining queue is looked at

int64_t NsUntil(const timespec& when) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (static_cast<int64_t>(when.tv_sec) - now.tv_sec) * kNsPerSecond +
         (when.tv_nsec - now.tv_nsec);
}

timespec Plus(const timespec& start, int64_t ns) {
  int64_t total = start.tv_nsec + ns;
  return timespec{start.tv_sec + static_cast<time_t>(total / kNsPerSecond),
                  static_cast<long>(total % kNsPerSecond)};
}

// Start bit, data bits, parity bit and stop bits of one character.
int64_t BitsPerCharacter(const termios& t) {
  tcflag_t size = t.c_cflag & CSIZE;
  int64_t data = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
  return 1 + data + ((t.c_cflag & PARENB) != 0 ? 1 : 0) + ((t.c_cflag & CSTOPB) != 0 ? 2 : 1);
}

// When the last of the bytes is off the line if the first went at began; began itself for a
// file without a line speed.
timespec WireEnd(int fd, DWORD bytes, const timespec& began) {
  termios t;
  if (tcgetattr(fd, &t) != 0) return began;
  DWORD baud = BaudOfSpeed(cfgetospeed(&t));
  if (baud == 0) return began;
  return Plus(began, static_cast<int64_t>(bytes) * BitsPerCharacter(t) * kNsPerSecond / baud);
}

void Pause(int64_t ns) {
  timespec pause{static_cast<time_t>(ns / kNsPerSecond), static_cast<long>(ns % kNsPerSecond)};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

}  // namespace

DWORD DrainOutput(int fd, DWORD bytes, const timespec& began, const timespec* deadline) {
  timespec wireEnd = WireEnd(fd, bytes, began);
  while (true) {
    int queued = 0;
    if (ioctl(fd, TIOCOUTQ, &queued) != 0) queued = 0;
    int64_t wait = queued > 0 ? kPollNs : NsUntil(wireEnd);
    if (wait <= 0) return 0;
    if (deadline != nullptr) {
      int64_t left = NsUntil(*deadline);
      if (left <= 0) {
        if (queued > 0) tcflush(fd, TCOFLUSH);
        return static_cast<DWORD>(queued);
      }
      if (left < wait) wait = left;
    }
    Pause(wait);
  }
}
