// melor-sim's injected faults: each hits exactly the command it is aimed at and changes the
// reply on the wire as documented, and the device goes on serving afterwards.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim_process.h"

namespace {

constexpr std::uint32_t kBase = 0x9D000000;
const Bytes kQuery = {0x09, 0x00, 0x00};
const Bytes kQueryReply = {0x00, 0x00, 0x08, 0x00, 0x01, 0x02, 0x0F, 0x00, 0x00, 0x00, 0x00, 0x00};

Bytes Chunk(std::uint8_t seed) {
  Bytes bytes(16);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(seed + i);
  return bytes;
}

void Program(SimProcess& sim, std::uint32_t address, const Bytes& data) {
  ASSERT_EQ(sim.Exchange(Concat(Header(0x02, 4, address), data)), Bytes{0x02});
}

using Clock = std::chrono::steady_clock;

}  // namespace

TEST(SimFaults, bad_checksum_spoils_only_the_aimed_reply) {
  SimProcess sim({"--fault", "bad-checksum@2"});
  EXPECT_EQ(sim.Exchange(kQuery), kQueryReply);
  sim.SendCommand(kQuery);
  Decoded spoiled = DecodeWire(sim.ReadFrameBytes());
  EXPECT_FALSE(spoiled.checksumOk);
  EXPECT_EQ(Bytes(spoiled.payload.begin(), spoiled.payload.end() - 1), kQueryReply);
  EXPECT_EQ(sim.Exchange(kQuery), kQueryReply);
  sim.Stop();
  auto trace = sim.Trace();
  auto faulty = std::count_if(trace.begin(), trace.end(),
                              [](const TraceEvent& e) { return e.fields.contains("fault"); });
  EXPECT_EQ(faulty, 1);
}

TEST(SimFaults, bad_echo_names_the_wrong_address_or_the_wrong_code) {
  SimProcess sim({"--fault", "bad-echo@read:1", "--fault", "bad-echo@program:2"});
  Program(sim, kBase + 0x40, Chunk(1));
  EXPECT_EQ(sim.Exchange(Concat(Header(0x02, 4, kBase + 0x80), Chunk(2))), Bytes{0x03});
  EXPECT_EQ(sim.Exchange(Header(0x01, 4, kBase + 0x40)),
            Concat(Header(0x01, 4, kBase + 0x44), Chunk(1)));
  EXPECT_EQ(sim.Exchange(Header(0x01, 4, kBase + 0x80)),
            Concat(Header(0x01, 4, kBase + 0x80), Chunk(2)));  // written despite the bad echo
}

TEST(SimFaults, bad_data_flips_the_last_read_back_byte_of_the_aimed_read) {
  SimProcess sim({"--fault", "bad-data@read:2"});
  Program(sim, kBase, Chunk(0x30));
  EXPECT_EQ(sim.Exchange(Header(0x01, 4, kBase)), Concat(Header(0x01, 4, kBase), Chunk(0x30)));
  Bytes changed = Chunk(0x30);
  changed.back() ^= 0x01;
  EXPECT_EQ(sim.Exchange(Header(0x01, 4, kBase)), Concat(Header(0x01, 4, kBase), changed));
  EXPECT_EQ(sim.Exchange(Header(0x01, 4, kBase)), Concat(Header(0x01, 4, kBase), Chunk(0x30)));
}

TEST(SimFaults, no_reply_carries_out_the_command_in_silence) {
  SimProcess sim({"--fault", "no-reply@program:1"});
  sim.SendCommand(Concat(Header(0x02, 4, kBase), Chunk(7)));
  EXPECT_TRUE(sim.StaysSilent());
  EXPECT_EQ(sim.Exchange(Header(0x01, 4, kBase)), Concat(Header(0x01, 4, kBase), Chunk(7)));
}

TEST(SimFaults, numbering_counts_every_command_or_every_command_of_one_kind) {
  SimProcess sim({"--fault", "no-reply@3", "--fault", "no-reply@query:3"});
  EXPECT_EQ(sim.Exchange(kQuery), kQueryReply);                  // 1, query 1
  EXPECT_EQ(sim.Exchange(Header(0x01, 1, kBase)).size(), 12u);   // 2
  sim.SendCommand(kQuery);                                       // 3, query 2
  EXPECT_TRUE(sim.StaysSilent());
  EXPECT_EQ(sim.Exchange(Header(0x01, 1, kBase)).size(), 12u);   // 4
  sim.SendCommand(kQuery);                                       // 5, query 3
  EXPECT_TRUE(sim.StaysSilent());
  EXPECT_EQ(sim.Exchange(kQuery), kQueryReply);                  // 6, query 4
}

TEST(SimFaults, dribble_sends_the_reply_one_byte_at_a_time) {
  SimProcess sim({"--fault", "dribble@1", "--gap-ms", "25"});
  auto start = Clock::now();
  sim.SendCommand(kQuery);
  Bytes raw = sim.ReadFrameBytes();
  auto took = Clock::now() - start;
  EXPECT_EQ(DecodeWire(raw).payload, kQueryReply);
  EXPECT_GE(took, Millis(25) * static_cast<long>(raw.size() - 1));
}

TEST(SimFaults, garbage_comes_before_an_intact_frame) {
  SimProcess sim({"--fault", "garbage@1"});
  sim.SendCommand(kQuery);
  Bytes raw = sim.ReadFrameBytes();
  Bytes junk = {0x00, 0xFF, 0x13, 0x37, 0xA5, 0x5A, 0x42, 0xEE};
  ASSERT_GT(raw.size(), junk.size());
  EXPECT_EQ(Bytes(raw.begin(), raw.begin() + 8), junk);
  EXPECT_EQ(Bytes(raw.begin() + 8, raw.end()), WireFrame(kQueryReply));
  EXPECT_EQ(DecodeWire(raw).payload, kQueryReply);
}

TEST(SimFaults, a_longer_garbage_burst_repeats_the_junk_pattern) {
  SimProcess sim({"--fault", "garbage@1", "--garbage-bytes", "20"});
  sim.SendCommand(kQuery);
  Bytes raw = sim.ReadFrameBytes();
  Bytes pattern = {0x00, 0xFF, 0x13, 0x37, 0xA5, 0x5A, 0x42, 0xEE};
  ASSERT_EQ(raw.size(), 20 + WireFrame(kQueryReply).size());
  for (std::size_t i = 0; i < 20; i++) EXPECT_EQ(raw[i], pattern[i % 8]) << i;
  EXPECT_EQ(Bytes(raw.begin() + 20, raw.end()), WireFrame(kQueryReply));
}

TEST(SimFaults, cut_off_sends_half_the_reply_frame_then_hangs_up) {
  SimProcess sim({"--fault", "cut-off@query:1"});
  sim.SendCommand(kQuery);
  EXPECT_TRUE(sim.SeesHangUp(Millis(3000)));
  Finished end = sim.WaitForEnd(Millis(5000));
  EXPECT_NE(end.out.find("hung up"), std::string::npos) << end.out;
  bool sawHalf = false;
  for (const TraceEvent& e : sim.Trace()) {
    if (e.event == "tx") {
      EXPECT_EQ(e.fields.at("wire"), std::to_string(WireFrame(kQueryReply).size() / 2));
      EXPECT_EQ(e.fields.at("fault"), "cut-off");
      sawHalf = true;
    }
  }
  EXPECT_TRUE(sawHalf);
}

TEST(SimFaults, stray_sync_cuts_the_reply_for_a_receiver) {
  SimProcess sim({"--fault", "stray-sync@query:1", "--fault", "stray-sync@program:1"});
  for (const Bytes& command : {kQuery, Concat(Header(0x02, 4, kBase), Chunk(1))}) {
    sim.SendCommand(command);
    Bytes raw = sim.ReadFrameBytes();
    Decoded decoded = DecodeWire(raw);
    // Without the one stray byte the frame would be the true reply.
    Bytes expected = command == kQuery ? kQueryReply : Bytes{0x02};
    Bytes frame = WireFrame(expected);
    ASSERT_EQ(raw.size(), frame.size() + 1);
    std::size_t at = std::mismatch(frame.begin(), frame.end(), raw.begin()).first - frame.begin();
    EXPECT_GT(at, 4u);
    EXPECT_EQ(raw[at], 0x55);
    raw.erase(raw.begin() + static_cast<long>(at));
    EXPECT_EQ(raw, frame);
    EXPECT_FALSE(decoded.checksumOk && decoded.payload == expected);
  }
}

TEST(SimFaults, late_reply_comes_after_the_delay) {
  SimProcess sim({"--fault", "late@1", "--late-ms", "600"});
  auto start = Clock::now();
  sim.SendCommand(kQuery);
  EXPECT_TRUE(sim.StaysSilent(Millis(400)));
  EXPECT_EQ(DecodeWire(sim.ReadFrameBytes()).payload, kQueryReply);
  EXPECT_GE(Clock::now() - start, Millis(600));
}

TEST(SimFaults, hang_up_closes_the_terminal_and_ends_after_the_aimed_command) {
  SimProcess sim({"--flash-size", "0x10000", "--dump", "{dir}/flash.bin", "--fault",
                  "hang-up@program:2"});
  Program(sim, kBase, Chunk(1));
  sim.SendCommand(Concat(Header(0x02, 4, kBase + 16), Chunk(2)));
  EXPECT_TRUE(sim.SeesHangUp(Millis(3000)));
  Finished end = sim.WaitForEnd(Millis(5000));
  EXPECT_EQ(end.exitCode, 0);
  EXPECT_NE(end.out.find("2 commands served"), std::string::npos) << end.out;
  EXPECT_NE(end.out.find("hung up"), std::string::npos) << end.out;
  Bytes flash = ReadFile(sim.Path("flash.bin"));
  ASSERT_EQ(flash.size(), 0x10000u);
  EXPECT_EQ(Bytes(flash.begin(), flash.begin() + 16), Chunk(1));
  EXPECT_EQ(Bytes(flash.begin() + 16, flash.begin() + 32), Bytes(16, 0xFF));
}
