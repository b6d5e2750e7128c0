// melor-sim's line clock, which the benchmarks rest on: no byte crosses faster than the wire
// carries it at 10 bits a byte, and behind a USB serial adapter bytes reach the tool only at the
// adapter's ticks, all that crossed since the last one together.
#include <gtest/gtest.h>

#include "pacing.h"

namespace {

using std::chrono::milliseconds;

TEST(LineClock, paces_bytes_at_the_line_rate_and_hands_them_over_at_the_adapters_ticks) {
  LineClock line = MakeLineClock(57600, 40);
  const SimClock::time_point start = line.firstTick;
  const std::chrono::nanoseconds byte(173611);  // 10 bits at 57600 baud

  // Bytes read at once arrive one after the other; one read later arrives a byte after its read.
  EXPECT_EQ(line.Arrive(start), start + byte);
  EXPECT_EQ(line.Arrive(start), start + 2 * byte);
  EXPECT_EQ(line.Arrive(start + milliseconds(5)), start + milliseconds(5) + byte);
  line.Departed(line.NextDeparture(start));
  EXPECT_EQ(line.NextDeparture(start), start + 2 * byte);
  EXPECT_EQ(line.NextDeparture(start + milliseconds(9)), start + milliseconds(9) + byte);
  for (auto [crossed, handed] : {std::pair{0, 0}, {1, 40}, {40, 40}, {41, 80}, {119, 120}}) {
    EXPECT_EQ(line.HandOver(start + milliseconds(crossed)), start + milliseconds(handed)) << crossed;
  }
  EXPECT_EQ(MakeLineClock(57600, 0).HandOver(start + milliseconds(7)), start + milliseconds(7));
  EXPECT_EQ(MakeLineClock(0, 0).NextDeparture(start), start);
}

}  // namespace
