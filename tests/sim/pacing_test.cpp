// melor-sim's line-rate pacing, which the benchmarks rest on: with --baud, no reply comes faster
// than its bytes could cross the wire at 10 bits a byte; with --burst-ms, a reply reaches the tool
// in bursts, as through a USB serial adapter.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include "run_fixture.h"

namespace {

// The read command for the 512 bytes at flash address 0x9D000000 + offset, framed by hand.
Bytes ReadCommandFrame(uint16_t offset) {
  Bytes payload = {0x01, 0x00, 0x80, 0x00, static_cast<uint8_t>(offset),
                   static_cast<uint8_t>(offset >> 8), 0x00, 0x9D};
  Bytes frame = {0x55, 0x55, 0x55, 0x55};
  uint8_t sum = 0;
  for (uint8_t byte : payload) sum = static_cast<uint8_t>(sum - byte);
  payload.push_back(sum);
  for (uint8_t byte : payload) {
    if (byte == 0x55 || byte == 0x04 || byte == 0x05) frame.push_back(0x05);
    frame.push_back(byte);
  }
  frame.push_back(0x04);
  return frame;
}

using Clock = std::chrono::steady_clock;

// The bytes of one reply frame, up to its unescaped end; the time each read ended goes to reads.
size_t ReadReplyFrame(int fd, std::vector<Clock::time_point>* reads = nullptr) {
  size_t count = 0;
  bool escaped = false;
  for (uint8_t byte;;) {
    pollfd waiting{fd, POLLIN, 0};
    if (poll(&waiting, 1, 3000) <= 0 || read(fd, &byte, 1) != 1) return 0;
    if (reads != nullptr) reads->push_back(Clock::now());
    count++;
    if (!escaped && byte == 0x04) return count;
    escaped = !escaped && byte == 0x05;
  }
}

// The device's port opened raw, as the tool would see it.
int OpenRaw(const SimDevice& device) {
  int fd = open(device.ptyPath.c_str(), O_RDWR | O_NOCTTY);
  termios raw{};
  tcgetattr(fd, &raw);
  cfmakeraw(&raw);
  tcsetattr(fd, TCSANOW, &raw);
  return fd;
}

TEST_F(RunTest, a_paced_device_takes_at_least_the_wire_time_of_every_byte) {
  int fd = OpenRaw(StartSim("COM1", {"--baud", "57600"}));
  ASSERT_GE(fd, 0);
  size_t bytes = 0;
  auto start = Clock::now();
  for (uint16_t offset = 0; offset < 0x2000; offset += 0x200) {
    Bytes command = ReadCommandFrame(offset);
    ASSERT_EQ(write(fd, command.data(), command.size()), static_cast<ssize_t>(command.size()));
    size_t reply = ReadReplyFrame(fd);
    ASSERT_GE(reply, 8u + 512u + 2u) << "at offset " << offset;
    bytes += command.size() + reply;
  }
  std::chrono::duration<double> elapsed = Clock::now() - start;
  close(fd);
  EXPECT_GE(elapsed.count(), bytes / 5760.0);
}

// A 512-byte reply spends about 91 ms on the wire: through 40 ms ticks it comes in two to four
// bursts; paced byte by byte it would have no quiet gap of 20 ms at all.
TEST_F(RunTest, with_burst_ms_a_reply_reaches_the_tool_in_bursts_a_period_apart) {
  int fd = OpenRaw(StartSim("COM1", {"--baud", "57600", "--burst-ms", "40"}));
  ASSERT_GE(fd, 0);
  Bytes command = ReadCommandFrame(0);
  ASSERT_EQ(write(fd, command.data(), command.size()), static_cast<ssize_t>(command.size()));
  std::vector<Clock::time_point> reads;
  ASSERT_GE(ReadReplyFrame(fd, &reads), 8u + 512u + 2u);
  close(fd);
  int bursts = 1;
  for (size_t i = 1; i < reads.size(); i++) {
    if (reads[i] - reads[i - 1] > std::chrono::milliseconds(20)) bursts++;
  }
  EXPECT_GE(bursts, 2);
  EXPECT_LE(bursts, 4);
}

}  // namespace
