// melor-sim's line-rate pacing, which the benchmarks rest on: with --baud, no reply comes faster
// than its bytes could cross the wire at 10 bits a byte; with --burst-ms, a reply reaches the tool
// in bursts, as through a USB serial adapter.
#include <poll.h>

#include <chrono>

#include "run_fixture.h"
#include "terminal_settings.h"

namespace {

using Clock = std::chrono::steady_clock;

// A 512-byte reply spends about 91 ms on the wire: through 40 ms ticks it comes in two to four
// bursts; paced byte by byte it would have no quiet gap of 20 ms at all.
TEST_F(RunTest, with_burst_ms_a_reply_reaches_the_tool_in_bursts_a_period_apart) {
  SimDevice& device = StartSim("COM1", {"--baud", "57600", "--burst-ms", "40"});
  termios raw = TerminalSettingsAt(device.ptyPath);
  cfmakeraw(&raw);
  TerminalSettingsAt(device.ptyPath, &raw);
  int fd = open(device.ptyPath.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  // The read command for the 512 bytes at 0x9D000000, framed: no byte of it needs an escape.
  const uint8_t command[] = {0x55, 0x55, 0x55, 0x55, 0x01, 0x00, 0x80,
                             0x00, 0x00, 0x00, 0x00, 0x9D, 0xE2, 0x04};
  ASSERT_EQ(write(fd, command, sizeof command), static_cast<ssize_t>(sizeof command));
  int bursts = 0;
  Clock::time_point last{};
  uint8_t reply[600];
  for (ssize_t got = 0, total = 0; total < 4 + 8 + 512 + 2; total += got) {
    pollfd waiting{fd, POLLIN, 0};
    ASSERT_GT(poll(&waiting, 1, 3000), 0) << "after " << total << " bytes";
    ASSERT_GT(got = read(fd, reply, sizeof reply), 0);
    // A read after a quiet gap of 20 ms begins a burst (the first read always does).
    if (Clock::now() - last > std::chrono::milliseconds(20)) bursts++;
    last = Clock::now();
  }
  close(fd);
  EXPECT_GE(bursts, 2);
  EXPECT_LE(bursts, 4);
}

}  // namespace
