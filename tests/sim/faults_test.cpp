// melor-sim's injected faults: each hits exactly the command it is aimed at and changes the
// reply on the wire as documented, and the device goes on serving afterwards.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim_process.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kBase = 0x9D000000;
const Bytes kQuery = {0x09, 0x00, 0x00};
const Bytes kQueryReply = {0x00, 0x00, 0x08, 0x00, 0x01, 0x02, 0x0F, 0x00, 0x00, 0x00, 0x00, 0x00};

Bytes Chunk(std::uint8_t seed) {
  Bytes bytes(16);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(seed + i);
  return bytes;
}

Bytes Program(std::uint32_t address, const Bytes& data) {
  return Concat(Header(0x02, 4, address), data);
}

Bytes Read(std::uint32_t address) { return Header(0x01, 4, address); }

}  // namespace

TEST(SimFaults, reply_faults_spoil_only_the_aimed_reply_and_leave_the_flash_as_commanded) {
  SimProcess sim({"--fault", "bad-checksum@query:2", "--fault", "bad-echo@read:1", "--fault",
                  "bad-echo@program:2", "--fault", "bad-data@read:3", "--fault",
                  "no-reply@program:3"});
  EXPECT_EQ(sim.Exchange(kQuery), kQueryReply);
  sim.SendCommand(kQuery);
  Decoded spoiled = DecodeWire(sim.ReadFrameBytes());
  EXPECT_FALSE(spoiled.checksumOk);
  EXPECT_EQ(Bytes(spoiled.payload.begin(), spoiled.payload.end() - 1), kQueryReply);
  EXPECT_EQ(sim.Exchange(kQuery), kQueryReply);

  EXPECT_EQ(sim.Exchange(Program(kBase + 0x40, Chunk(1))), Bytes{0x02});
  EXPECT_EQ(sim.Exchange(Program(kBase + 0x80, Chunk(2))), Bytes{0x03});  // the wrong code
  sim.SendCommand(Program(kBase, Chunk(7)));  // carried out in silence
  EXPECT_TRUE(sim.StaysSilent());
  // Read 1 names the wrong address; read 3 flips the last byte; both written despite the faults.
  EXPECT_EQ(sim.Exchange(Read(kBase + 0x40)), Concat(Read(kBase + 0x44), Chunk(1)));
  EXPECT_EQ(sim.Exchange(Read(kBase + 0x80)), Concat(Read(kBase + 0x80), Chunk(2)));
  Bytes flipped = Chunk(7);
  flipped.back() ^= 0x01;
  EXPECT_EQ(sim.Exchange(Read(kBase)), Concat(Read(kBase), flipped));
  EXPECT_EQ(sim.Exchange(Read(kBase)), Concat(Read(kBase), Chunk(7)));
  sim.Stop();
  auto trace = sim.Trace();
  EXPECT_EQ(std::count_if(trace.begin(), trace.end(),
                          [](const TraceEvent& e) { return e.fields.contains("fault"); }),
            5);
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

TEST(SimFaults, dribble_and_late_delay_an_intact_reply) {
  SimProcess dribble({"--fault", "dribble@1", "--gap-ms", "25"});
  auto start = Clock::now();
  dribble.SendCommand(kQuery);
  Bytes raw = dribble.ReadFrameBytes();
  EXPECT_EQ(DecodeWire(raw).payload, kQueryReply);
  EXPECT_GE(Clock::now() - start, Millis(25) * static_cast<long>(raw.size() - 1));

  SimProcess late({"--fault", "late@1", "--late-ms", "600"});
  start = Clock::now();
  late.SendCommand(kQuery);
  EXPECT_TRUE(late.StaysSilent(Millis(400)));
  EXPECT_EQ(DecodeWire(late.ReadFrameBytes()).payload, kQueryReply);
  EXPECT_GE(Clock::now() - start, Millis(600));
}

TEST(SimFaults, garbage_repeats_its_junk_pattern_before_an_intact_frame) {
  const Bytes pattern = {0x00, 0xFF, 0x13, 0x37, 0xA5, 0x5A, 0x42, 0xEE};
  for (auto [option, count] : {std::pair{"8", 8u}, {"20", 20u}}) {
    // The default burst is 8 bytes.
    SimProcess sim(count == 8 ? std::vector<std::string>{"--fault", "garbage@1"}
                              : std::vector<std::string>{"--fault", "garbage@1", "--garbage-bytes", option});
    sim.SendCommand(kQuery);
    Bytes raw = sim.ReadFrameBytes();
    ASSERT_EQ(raw.size(), count + WireFrame(kQueryReply).size()) << option;
    for (std::size_t i = 0; i < count; i++) EXPECT_EQ(raw[i], pattern[i % 8]) << i;
    EXPECT_EQ(Bytes(raw.begin() + count, raw.end()), WireFrame(kQueryReply));
  }
}

TEST(SimFaults, stray_sync_cuts_the_reply_for_a_receiver) {
  SimProcess sim({"--fault", "stray-sync@query:1", "--fault", "stray-sync@program:1"});
  for (auto [command, reply] : {std::pair{kQuery, kQueryReply}, {Program(kBase, Chunk(1)), Bytes{0x02}}}) {
    sim.SendCommand(command);
    Bytes raw = sim.ReadFrameBytes();
    EXPECT_FALSE(DecodeWire(raw).checksumOk && DecodeWire(raw).payload == reply);
    // Without the one stray byte, past the preamble, the frame would be the true reply.
    Bytes frame = WireFrame(reply);
    ASSERT_EQ(raw.size(), frame.size() + 1);
    auto at = std::mismatch(frame.begin(), frame.end(), raw.begin()).first - frame.begin();
    EXPECT_GT(at, 4);
    EXPECT_EQ(raw[at], 0x55);
    raw.erase(raw.begin() + at);
    EXPECT_EQ(raw, frame);
  }
}

TEST(SimFaults, cut_off_sends_half_the_reply_frame_then_hangs_up) {
  SimProcess sim({"--fault", "cut-off@query:1"});
  sim.SendCommand(kQuery);
  EXPECT_TRUE(sim.SeesHangUp());
  Finished end = sim.Stop(0);
  EXPECT_NE(end.out.find("hung up"), std::string::npos) << end.out;
  std::vector<std::string> sent;
  for (const TraceEvent& e : sim.Trace())
    if (e.event == "tx") sent.push_back(e.fields.at("wire") + " " + e.fields.at("fault"));
  EXPECT_EQ(sent, std::vector<std::string>{std::to_string(WireFrame(kQueryReply).size() / 2) + " cut-off"});
}

TEST(SimFaults, hang_up_closes_the_terminal_and_ends_after_the_aimed_command) {
  SimProcess sim({"--flash-size", "0x10000", "--dump", "{dir}/flash.bin", "--fault",
                  "hang-up@program:2"});
  ASSERT_EQ(sim.Exchange(Program(kBase, Chunk(1))), Bytes{0x02});
  sim.SendCommand(Program(kBase + 16, Chunk(2)));
  EXPECT_TRUE(sim.SeesHangUp());
  Finished end = sim.Stop(0);
  EXPECT_EQ(end.exitCode, 0);
  EXPECT_NE(end.out.find("2 commands served"), std::string::npos) << end.out;
  EXPECT_NE(end.out.find("hung up"), std::string::npos) << end.out;
  Bytes flash = ReadFile(sim.Path("flash.bin"));
  ASSERT_EQ(flash.size(), 0x10000u);
  EXPECT_EQ(Bytes(flash.begin(), flash.begin() + 32), Concat(Chunk(1), Bytes(16, 0xFF)));
}
