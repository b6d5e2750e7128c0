// melor-sim's line-rate pacing, which the programming-run benchmark rests on: with --baud, no
// reply comes faster than its bytes could cross the wire at 10 bits a byte.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

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

// The bytes of one reply frame, up to its unescaped end.
size_t ReadReplyFrame(int fd) {
  size_t count = 0;
  bool escaped = false;
  for (uint8_t byte;;) {
    pollfd waiting{fd, POLLIN, 0};
    if (poll(&waiting, 1, 3000) <= 0 || read(fd, &byte, 1) != 1) return 0;
    count++;
    if (!escaped && byte == 0x04) return count;
    escaped = !escaped && byte == 0x05;
  }
}

TEST_F(RunTest, a_paced_device_takes_at_least_the_wire_time_of_every_byte) {
  SimDevice& device = StartSim("COM1", {"--baud", "57600"});
  int fd = open(device.ptyPath.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios raw{};
  tcgetattr(fd, &raw);
  cfmakeraw(&raw);
  tcsetattr(fd, TCSANOW, &raw);
  size_t bytes = 0;
  auto start = std::chrono::steady_clock::now();
  for (uint16_t offset = 0; offset < 0x2000; offset += 0x200) {
    Bytes command = ReadCommandFrame(offset);
    ASSERT_EQ(write(fd, command.data(), command.size()), static_cast<ssize_t>(command.size()));
    size_t reply = ReadReplyFrame(fd);
    ASSERT_GE(reply, 8u + 512u + 2u) << "at offset " << offset;
    bytes += command.size() + reply;
  }
  std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  close(fd);
  EXPECT_GE(elapsed.count(), bytes / 5760.0);
}

}  // namespace
