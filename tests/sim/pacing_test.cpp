// melor-sim's line-rate pacing: with --baud, exchanges take at least the wire time of their bytes;
// with --burst-ms, replies reach the tool in bursts, as through a USB serial adapter.
#include <gtest/gtest.h>

#include "sim_process.h"

TEST(SimPacing, commands_and_replies_take_at_least_their_wire_time) {
  SimProcess sim({"--baud", "57600"});
  auto wireTime = [](std::size_t bytes) { return std::chrono::duration<double>(bytes / 5760.0); };
  // A reply starts only after the command could have crossed the wire.
  Bytes command = WireFrame(Concat(Header(0x02, 128, 0x9D000000), Bytes(512, 0x11)));
  auto start = std::chrono::steady_clock::now();
  sim.Send(command);
  Bytes raw = sim.ReadFrameBytes();
  EXPECT_EQ(DecodeWire(raw).payload, Bytes{0x02});
  EXPECT_GE(std::chrono::steady_clock::now() - start, wireTime(command.size() + raw.size()));
  // Reading back 64 KiB takes at least the wire time of the replies.
  std::size_t bytesOut = 0;
  start = std::chrono::steady_clock::now();
  for (std::uint32_t address = 0x9D000000u; address < 0x9D010000u; address += 0x200) {
    sim.SendCommand(Header(0x01, 128, address));
    raw = sim.ReadFrameBytes();
    bytesOut += raw.size();
    EXPECT_EQ(DecodeWire(raw).payload.size(), 8u + 512u);
  }
  EXPECT_GE(std::chrono::steady_clock::now() - start, wireTime(bytesOut));
}

TEST(SimPacing, with_burst_ms_a_reply_reaches_the_tool_in_bursts_a_period_apart) {
  SimProcess sim({"--baud", "57600", "--burst-ms", "40"});
  for (std::uint32_t address = 0x9D000000u; address < 0x9D000600u; address += 0x200) {
    sim.SendCommand(Header(0x01, 128, address));
    Bytes raw = sim.ReadFrameBytes();
    EXPECT_EQ(DecodeWire(raw).payload.size(), 8u + 512u);
    // The reply's 91 ms on the wire span three or four 40 ms ticks; paced byte by byte, it
    // would come without a quiet gap of 20 ms.
    int bursts = 1;
    for (std::size_t i = 1; i < sim.lastReads.size(); ++i)
      if (sim.lastReads[i] - sim.lastReads[i - 1] > Millis(20)) bursts++;
    EXPECT_GE(bursts, 2);
    EXPECT_LE(bursts, 4);
  }
}
