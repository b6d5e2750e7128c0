// Line-rate pacing of both directions.
#include "pacing.h"

#include <algorithm>

LineClock MakeLineClock(unsigned long baud) {
  LineClock clock;
  if (baud != 0) clock.byteTime = std::chrono::nanoseconds(10'000'000'000ull / baud);
  return clock;
}

SimClock::time_point LineClock::Arrive(SimClock::time_point readAt) {
  lastArrival = std::max(readAt, lastArrival) + byteTime;
  return lastArrival;
}

SimClock::time_point LineClock::NextDeparture(SimClock::time_point notBefore) const {
  return std::max(notBefore, lastDeparture) + byteTime;
}
