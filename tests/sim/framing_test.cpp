// melor-sim's framing as the tool sees it on the wire: exact frames, escaping, and the frames it
// must ignore.
#include <gtest/gtest.h>

#include <thread>

#include "sim_process.h"

namespace {

const Bytes kQueryFrame = {0x55, 0x55, 0x55, 0x55, 0x09, 0x00, 0x00, 0xF7, 0x04};
const Bytes kQueryReply = {0x00, 0x00, 0x08, 0x00, 0x01, 0x02, 0x0F, 0x00, 0x00, 0x00, 0x00, 0x00};

int CountIgnored(const std::vector<TraceEvent>& trace, const std::string& reason) {
  int count = 0;
  for (const auto& e : trace) count += e.event == "ignored" && e.fields.at("reason") == reason;
  return count;
}

}  // namespace

TEST(SimFraming, answers_the_query_frame_with_the_exact_reply_frame) {
  SimProcess sim;
  sim.Send(kQueryFrame);
  Bytes expected = {0x55, 0x55, 0x55, 0x55, 0x00, 0x00, 0x08, 0x00, 0x01,
                    0x02, 0x0F, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE6, 0x04};
  EXPECT_EQ(sim.ReadFrameBytes(), expected);
}

TEST(SimFraming, escapes_special_bytes_in_reply_payload_and_checksum) {
  // Final replies are 08 RR: RR = 0xA3 makes the checksum 0x55, RR = 0x55 needs escaping itself.
  SimProcess checksumSync({"--final", "0xA3"});
  checksumSync.SendCommand({0x08, 0x00, 0x01, 0x01, 0x04, 0x01, 0x00, 0x00});
  EXPECT_EQ(checksumSync.ReadFrameBytes(),
            (Bytes{0x55, 0x55, 0x55, 0x55, 0x08, 0xA3, 0x05, 0x55, 0x04}));

  SimProcess payloadSync({"--final", "0x55"});
  payloadSync.SendCommand({0x08, 0x00, 0x01, 0x01, 0x04, 0x01, 0x00, 0x00});
  EXPECT_EQ(payloadSync.ReadFrameBytes(),
            (Bytes{0x55, 0x55, 0x55, 0x55, 0x08, 0x05, 0x55, 0xA3, 0x04}));

  // Read-back data holding every special byte comes back escaped and intact.
  SimProcess data;
  Bytes chunk = {0x55, 0x04, 0x05, 0x05, 0x04, 0x55, 0x00, 0xFF};
  ASSERT_EQ(data.Exchange(Concat(Header(0x02, 2, 0x9D000100), chunk)), Bytes{0x02});
  data.SendCommand(Header(0x01, 2, 0x9D000100));
  Bytes raw = data.ReadFrameBytes();
  Decoded reply = DecodeWire(raw);
  ASSERT_TRUE(reply.checksumOk);
  EXPECT_EQ(reply.payload, Concat(Header(0x01, 2, 0x9D000100), chunk));
  EXPECT_EQ(raw.size(), 4u + 16u + 6u + 1u + 1u);  // six escapes, checksum 0xa4, terminator
}

TEST(SimFraming, ignores_frames_with_a_bad_checksum_or_no_payload) {
  SimProcess sim;
  sim.Send({0x55, 0x55, 0x55, 0x55, 0x09, 0x00, 0x00, 0xF6, 0x04});
  EXPECT_TRUE(sim.StaysSilent());
  sim.Send({0x55, 0x55, 0x55, 0x55, 0x04});        // terminator with nothing stored
  sim.Send({0x55, 0x55, 0x55, 0x55, 0x00, 0x04});  // a zero-length payload
  EXPECT_TRUE(sim.StaysSilent());
  EXPECT_EQ(sim.Exchange({0x09, 0x00, 0x00}), kQueryReply);
  sim.Stop();
  auto trace = sim.Trace();
  EXPECT_EQ(CountIgnored(trace, "bad-checksum"), 1);
  EXPECT_EQ(CountIgnored(trace, "empty"), 2);
}

TEST(SimFraming, reassembles_a_frame_split_anywhere_even_after_an_escape) {
  SimProcess sim;
  Bytes command = Concat(Header(0x02, 1, 0x9D000000), {0x05, 0x55, 0x04, 0x11});
  for (std::uint8_t byte : WireFrame(command)) {
    sim.Send({byte});
    std::this_thread::sleep_for(Millis(2));
  }
  EXPECT_EQ(DecodeWire(sim.ReadFrameBytes()).payload, Bytes{0x02});
  EXPECT_EQ(sim.Exchange(Header(0x01, 1, 0x9D000000)),
            Concat(Header(0x01, 1, 0x9D000000), {0x05, 0x55, 0x04, 0x11}));
}

TEST(SimFraming, a_sync_byte_drops_what_was_collected_before_it) {
  SimProcess sim;
  // Left-overs before the preamble, and a frame cut off by the next preamble: only the query counts.
  sim.Send({0x09, 0x00, 0x13});
  sim.Send({0x55, 0x55, 0x55, 0x55, 0x02, 0x00, 0x01});
  sim.Send(kQueryFrame);
  EXPECT_EQ(DecodeWire(sim.ReadFrameBytes()).payload, kQueryReply);
  EXPECT_TRUE(sim.StaysSilent(Millis(200)));
}

TEST(SimFraming, drops_a_frame_too_long_for_any_command_and_recovers) {
  SimProcess sim;
  Bytes flood = {0x55, 0x55, 0x55, 0x55};
  flood.insert(flood.end(), 3000, 0x11);
  flood.push_back(0x04);
  sim.Send(flood);
  EXPECT_TRUE(sim.StaysSilent());
  EXPECT_EQ(sim.Exchange({0x09, 0x00, 0x00}), kQueryReply);
  sim.Stop();
  EXPECT_EQ(CountIgnored(sim.Trace(), "overflow"), 1);
}
