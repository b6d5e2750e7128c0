// Line-rate pacing: when bytes from the tool count as arrived and when ours may leave, so that a
// simulated exchange takes the time the same bytes would take on a real serial line.
#pragma once

#include <chrono>

using SimClock = std::chrono::steady_clock;

struct LineClock {
  std::chrono::nanoseconds byteTime{0};  // 10 bits a byte at the line rate; 0 means no pacing
  SimClock::time_point lastArrival{};
  SimClock::time_point lastDeparture{};

  // The arrival time of one byte read at `readAt`: no earlier than the previous byte plus one
  // byte time, since the line cannot carry them faster.
  SimClock::time_point Arrive(SimClock::time_point readAt);

  // The departure time of our next byte, which may not leave before `notBefore` nor before the
  // previous one has left the line.
  SimClock::time_point NextDeparture(SimClock::time_point notBefore) const;
  void Departed(SimClock::time_point at) { lastDeparture = at; }
};

LineClock MakeLineClock(unsigned long baud);
