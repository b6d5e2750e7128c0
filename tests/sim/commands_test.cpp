// melor-sim's command set: what each command does to its flash and what it answers.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim_process.h"

namespace {

constexpr std::uint32_t kBase = 0x9D000000;
const Bytes kQuery = {0x09, 0x00, 0x00};
const Bytes kClose = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

Bytes Pattern(std::size_t n, std::uint8_t seed) {
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
  return bytes;
}

Bytes Final(std::uint32_t imageLength) {
  Bytes command = Header(0x08, 0, imageLength);
  command[2] = command[3] = 0x01;
  return command;
}

bool Accepted(const Bytes& programReply) {
  return !programReply.empty() && (programReply[0] == 0x02 || programReply[0] == 0x22);
}

}  // namespace

TEST(SimCommands, query_reports_the_configured_flash_size_version_and_device_id) {
  SimProcess sim({"--flash-size", "0x40000", "--version", "3.7", "--device-id", "0x0E"});
  EXPECT_EQ(sim.Exchange(kQuery),
            (Bytes{0x00, 0x00, 0x04, 0x00, 0x03, 0x07, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

TEST(SimCommands, programmed_chunks_read_back_and_dump_exactly) {
  constexpr std::uint32_t kFlash = 0x10000;
  SimProcess dumped({"--flash-size", "0x10000", "--dump", "{dir}/flash.bin"});
  Bytes first = Pattern(512, 1), last = Pattern(512, 9), middle = Pattern(260, 3);
  EXPECT_EQ(dumped.Exchange(Concat(Header(0x02, 128, kBase), first)), Bytes{0x02});
  EXPECT_EQ(dumped.Exchange(Concat(Header(0x02, 128, kBase + kFlash - 512), last)), Bytes{0x02});
  EXPECT_EQ(dumped.Exchange(Concat(Header(0x02, 65, kBase + 0x1000), middle)), Bytes{0x02});
  // A blank command writes 0xFF over what was there.
  EXPECT_EQ(dumped.Exchange(Header(0x22, 1, kBase + 0x1000)), Bytes{0x22});

  EXPECT_EQ(dumped.Exchange(Header(0x01, 128, kBase)), Concat(Header(0x01, 128, kBase), first));
  Bytes expectedMiddle = middle;
  std::fill_n(expectedMiddle.begin(), 4, 0xFF);
  EXPECT_EQ(dumped.Exchange(Header(0x01, 65, kBase + 0x1000)),
            Concat(Header(0x01, 65, kBase + 0x1000), expectedMiddle));
  EXPECT_EQ(dumped.Stop().exitCode, 0);

  Bytes flash(kFlash, 0xFF);
  std::copy(first.begin(), first.end(), flash.begin());
  std::copy(last.begin(), last.end(), flash.end() - 512);
  std::copy(expectedMiddle.begin(), expectedMiddle.end(), flash.begin() + 0x1000);
  EXPECT_EQ(ReadFile(dumped.Path("flash.bin")), flash);

  auto trace = dumped.Trace();
  auto rx = std::find_if(trace.begin(), trace.end(), [](const TraceEvent& e) {
    return e.event == "rx" && e.fields.at("n") == "3";
  });
  ASSERT_NE(rx, trace.end());
  EXPECT_EQ(rx->fields.at("cmd"), "program");
  EXPECT_EQ(rx->fields.at("words"), "65");
  EXPECT_EQ(rx->fields.at("addr"), "0x9d001000");
  EXPECT_EQ(rx->fields.at("len"), "268");
}

TEST(SimCommands, refuses_chunks_that_reach_outside_the_flash_and_leaves_it_untouched) {
  SimProcess dumped({"--flash-size", "0x10000", "--dump", "{dir}/flash.bin"});
  const std::uint32_t end = kBase + 0x10000;
  EXPECT_FALSE(Accepted(dumped.Exchange(Concat(Header(0x02, 2, end - 4), Pattern(8, 1)))));
  EXPECT_FALSE(Accepted(dumped.Exchange(Concat(Header(0x02, 1, kBase - 4), Pattern(4, 1)))));
  EXPECT_FALSE(Accepted(dumped.Exchange(Concat(Header(0x02, 1, 0x1D000000), Pattern(4, 1)))));
  EXPECT_FALSE(Accepted(dumped.Exchange(Header(0x22, 128, end - 256))));
  Bytes read = dumped.Exchange(Header(0x01, 2, end - 4));
  EXPECT_NE(read.size(), 16u);
  EXPECT_NE(read.at(0), 0x01);
  EXPECT_EQ(dumped.Stop().exitCode, 0);
  EXPECT_EQ(ReadFile(dumped.Path("flash.bin")), Bytes(0x10000, 0xFF));
}

TEST(SimCommands, the_last_word_of_the_flash_is_within_reach) {
  SimProcess sim({"--flash-size", "0x10000"});
  const std::uint32_t last = kBase + 0x10000 - 4;
  EXPECT_EQ(sim.Exchange(Concat(Header(0x02, 1, last), {1, 2, 3, 4})), Bytes{0x02});
  EXPECT_EQ(sim.Exchange(Header(0x01, 1, last)), Concat(Header(0x01, 1, last), {1, 2, 3, 4}));
}

TEST(SimCommands, refuses_malformed_commands_with_one_refusal_byte) {
  SimProcess sim;
  const std::vector<std::pair<std::string, Bytes>> malformed = {
      {"length", Concat(Header(0x02, 2, kBase), Pattern(4, 0))},  // data shorter than the count
      {"word-count", Header(0x01, 0, kBase)},
      {"word-count", Header(0x01, 129, kBase)},
      {"misaligned", Header(0x01, 1, kBase + 2)},
      {"length", Concat(Header(0x22, 1, kBase), {0xFF, 0xFF, 0xFF, 0xFF})},
      {"query-layout", {0x09, 0x00, 0x00, 0x00}},
      {"final-layout", Header(0x08, 0, 0x104)},
      {"close-layout", {0x00, 0x00, 0x00, 0x00, 0x00}},
      {"unknown-code", {0x42, 0x00, 0x00}},
  };
  for (const auto& [reason, command] : malformed)
    EXPECT_EQ(sim.Exchange(command), Bytes{0x15}) << reason;
  sim.Stop();
  std::vector<std::string> refusals;
  for (const auto& e : sim.Trace())
    if (e.event == "tx") refusals.push_back(e.fields.at("refused"));
  ASSERT_EQ(refusals.size(), malformed.size());
  for (std::size_t i = 0; i < malformed.size(); ++i) EXPECT_EQ(refusals[i], malformed[i].first);
}

TEST(SimCommands, final_reply_carries_the_configured_result) {
  for (const auto& [option, code] : std::vector<std::pair<std::string, std::uint8_t>>{
           {"ok", 0x00}, {"E", 'E'}, {"G", 'G'}, {"0x53", 0x53}}) {
    SimProcess sim({"--final", option});
    EXPECT_EQ(sim.Exchange(Final(0x104)), (Bytes{0x08, code})) << option;
    sim.Stop();
    auto trace = sim.Trace();
    auto rx = std::find_if(trace.begin(), trace.end(),
                           [](const TraceEvent& e) { return e.event == "rx"; });
    ASSERT_NE(rx, trace.end());
    EXPECT_EQ(rx->fields.at("image"), "0x00000104");
  }
}

TEST(SimCommands, close_is_carried_out_without_a_reply) {
  SimProcess sim;
  sim.SendCommand(kClose);
  EXPECT_TRUE(sim.StaysSilent());
  EXPECT_EQ(sim.Exchange(kQuery).size(), 12u);  // and the device still answers afterwards
}

TEST(SimCommands, answer_after_ignores_only_the_first_queries) {
  SimProcess sim({"--answer-after", "2"});
  sim.SendCommand(kQuery);
  EXPECT_TRUE(sim.StaysSilent(Millis(200)));
  EXPECT_EQ(sim.Exchange(Header(0x01, 1, kBase)).size(), 12u);  // other commands are answered
  sim.SendCommand(kQuery);
  EXPECT_TRUE(sim.StaysSilent(Millis(200)));
  EXPECT_EQ(sim.Exchange(kQuery).size(), 12u);
  EXPECT_EQ(sim.Exchange(kQuery).size(), 12u);
  sim.Stop();
  std::vector<std::string> silentAt;
  for (const auto& e : sim.Trace())
    if (e.event == "silent") silentAt.push_back(e.fields.at("n") + ":" + e.fields.at("reason"));
  EXPECT_EQ(silentAt, (std::vector<std::string>{"1:answer-after", "3:answer-after"}));
}
