// melor-sim's line-rate pacing: with --baud, exchanges take at least the wire time of their bytes.
#include <gtest/gtest.h>

#include "sim_process.h"

namespace {

using Clock = std::chrono::steady_clock;

std::chrono::duration<double> WireTime(std::size_t bytes, double baud) {
  return std::chrono::duration<double>(static_cast<double>(bytes) * 10.0 / baud);
}

}  // namespace

TEST(SimPacing, reading_back_64_KiB_at_57600_baud_takes_at_least_its_wire_time) {
  SimProcess sim({"--baud", "57600", "--flash-size", "0x10000"});
  std::size_t bytesOut = 0;
  auto start = Clock::now();
  for (std::uint32_t offset = 0; offset < 0x10000; offset += 512) {
    sim.SendCommand(Header(0x01, 128, 0x9D000000 + offset));
    Bytes raw = sim.ReadFrameBytes(Millis(5000));
    bytesOut += raw.size();
    Decoded reply = DecodeWire(raw);
    ASSERT_TRUE(reply.checksumOk);
    ASSERT_EQ(reply.payload, Concat(Header(0x01, 128, 0x9D000000 + offset), Bytes(512, 0xFF)));
  }
  EXPECT_GE(bytesOut, 0x10000u);
  EXPECT_GE(Clock::now() - start, WireTime(bytesOut, 57600));
}

TEST(SimPacing, a_reply_starts_only_after_the_command_could_have_crossed_the_wire) {
  SimProcess sim({"--baud", "9600"});
  Bytes command = WireFrame(Concat(Header(0x02, 128, 0x9D000000), Bytes(512, 0x11)));
  auto start = Clock::now();
  sim.Send(command);
  Bytes raw = sim.ReadFrameBytes();
  EXPECT_EQ(DecodeWire(raw).payload, Bytes{0x02});
  EXPECT_GE(Clock::now() - start, WireTime(command.size() + raw.size(), 9600));
}
