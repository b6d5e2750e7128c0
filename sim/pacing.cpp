// Line-rate pacing of both directions, and an adapter's hand-over ticks.
#include "pacing.h"

#include <algorithm>

LineClock MakeLineClock(unsigned long baud, unsigned long burstMs) {
  LineClock clock;
  if (baud != 0) clock.byteTime = std::chrono::nanoseconds(10'000'000'000ull / baud);
  clock.burstPeriod = std::chrono::milliseconds(burstMs);
  clock.firstTick = SimClock::now();
  return clock;
}

SimClock::time_point LineClock::Arrive(SimClock::time_point readAt) {
  lastArrival = std::max(readAt, lastArrival) + byteTime;
  return lastArrival;
}

SimClock::time_point LineClock::NextDeparture(SimClock::time_point notBefore) const {
  return std::max(notBefore, lastDeparture) + byteTime;
}

SimClock::time_point LineClock::HandOver(SimClock::time_point crossed) const {
  if (burstPeriod.count() == 0 || crossed <= firstTick) return crossed;
  auto ticks = (crossed - firstTick + burstPeriod - SimClock::duration(1)) / burstPeriod;
  return firstTick + ticks * burstPeriod;
}
