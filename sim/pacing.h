// Line-rate pacing: when bytes from the tool count as arrived and when ours may leave, so that a
// simulated exchange takes the time the same bytes would take on a real serial line, and when a
// USB serial adapter in between hands them over.
#pragma once

#include <chrono>

using SimClock = std::chrono::steady_clock;

struct LineClock {
  std::chrono::nanoseconds byteTime{0};  // 10 bits a byte at the line rate; 0 means no pacing
  std::chrono::nanoseconds burstPeriod{0};  // the adapter's hand-over ticks; 0: byte by byte
  SimClock::time_point firstTick{};
  SimClock::time_point lastArrival{};
  SimClock::time_point lastDeparture{};

  // The time one byte read at `readAt` has fully crossed the line: one byte time after it was
  // read or after the previous byte arrived, whichever is later.
  SimClock::time_point Arrive(SimClock::time_point readAt);

  // When our next byte may be handed to the tool: one byte time after `notBefore` or after the
  // previous byte, whichever is later, so that it is seen only once it could have crossed.
  SimClock::time_point NextDeparture(SimClock::time_point notBefore) const;
  void Departed(SimClock::time_point at) { lastDeparture = at; }

  // When a byte that has crossed the line at `crossed` reaches the tool: at once, or, behind a
  // USB serial adapter, at the adapter's next tick, together with all that crossed since the last.
  SimClock::time_point HandOver(SimClock::time_point crossed) const;
};

// The clock of a line at `baud` (0: unpaced) behind an adapter that hands bytes over every
// `burstMs` (0: as they cross), its ticks counted from now.
LineClock MakeLineClock(unsigned long baud, unsigned long burstMs);
