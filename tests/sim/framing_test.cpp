// melor-sim's framing as the tool sees it on the wire: exact frames, escaping, and the frames it
// must ignore.
#include <gtest/gtest.h>

#include <thread>

#include "sim_process.h"

namespace {

const Bytes kQueryFrame = {0x55, 0x55, 0x55, 0x55, 0x09, 0x00, 0x00, 0xF7, 0x04};
const Bytes kQueryReply = {0x00, 0x00, 0x08, 0x00, 0x01, 0x02, 0x0F, 0x00, 0x00, 0x00, 0x00, 0x00};

}  // namespace

TEST(SimFraming, ignores_bad_empty_cut_and_overlong_frames_and_then_answers_exactly) {
  SimProcess sim;
  sim.Send({0x55, 0x55, 0x55, 0x55, 0x09, 0x00, 0x00, 0xF6, 0x04});  // bad checksum
  sim.Send({0x55, 0x55, 0x55, 0x55, 0x04});        // terminator with nothing stored
  sim.Send({0x55, 0x55, 0x55, 0x55, 0x00, 0x04});  // a zero-length payload
  Bytes flood = {0x55, 0x55, 0x55, 0x55};          // too long for any command
  flood.insert(flood.end(), 3000, 0x11);
  flood.push_back(0x04);
  sim.Send(flood);
  EXPECT_TRUE(sim.StaysSilent());
  // Left-overs before the preamble, and a frame cut off by the next preamble: only the query counts.
  sim.Send({0x09, 0x00, 0x13});
  sim.Send({0x55, 0x55, 0x55, 0x55, 0x02, 0x00, 0x01});
  sim.Send(kQueryFrame);
  EXPECT_EQ(sim.ReadFrameBytes(), (Bytes{0x55, 0x55, 0x55, 0x55, 0x00, 0x00, 0x08, 0x00, 0x01,
                                         0x02, 0x0F, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE6, 0x04}));
  EXPECT_TRUE(sim.StaysSilent(Millis(200)));
  sim.Stop();
  std::map<std::string, int> ignored;
  for (const auto& e : sim.Trace())
    if (e.event == "ignored") ignored[e.fields.at("reason")]++;
  EXPECT_EQ(ignored, (std::map<std::string, int>{{"bad-checksum", 1}, {"empty", 2}, {"overflow", 1}}));
}

TEST(SimFraming, escapes_special_bytes_in_reply_payload_and_checksum) {
  // Final replies are 08 RR: RR = 0xA3 makes the checksum 0x55, RR = 0x55 needs escaping itself.
  for (auto [result, frame] : {std::pair{"0xA3", Bytes{0x08, 0xA3, 0x05, 0x55, 0x04}},
                               std::pair{"0x55", Bytes{0x08, 0x05, 0x55, 0xA3, 0x04}}}) {
    SimProcess sim({"--final", result});
    sim.SendCommand({0x08, 0x00, 0x01, 0x01, 0x04, 0x01, 0x00, 0x00});
    EXPECT_EQ(sim.ReadFrameBytes(), Concat({0x55, 0x55, 0x55, 0x55}, frame)) << result;
  }
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

TEST(SimFraming, reassembles_a_frame_split_anywhere_even_after_an_escape) {
  SimProcess sim;
  Bytes data = {0x05, 0x55, 0x04, 0x11};
  for (std::uint8_t byte : WireFrame(Concat(Header(0x02, 1, 0x9D000000), data))) {
    sim.Send({byte});
    std::this_thread::sleep_for(Millis(2));
  }
  EXPECT_EQ(DecodeWire(sim.ReadFrameBytes()).payload, Bytes{0x02});
  EXPECT_EQ(sim.Exchange(Header(0x01, 1, 0x9D000000)), Concat(Header(0x01, 1, 0x9D000000), data));
}
