// melor-sim's command set: what each command does to its flash and what it answers.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim_process.h"

namespace {

constexpr std::uint32_t kBase = 0x9D000000;
const Bytes kQuery = {0x09, 0x00, 0x00};

Bytes Pattern(std::size_t n, std::uint8_t seed) {
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
  return bytes;
}

// The fields of the trace's `rx` line for the nth command.
std::map<std::string, std::string> Received(const SimProcess& sim, const std::string& n) {
  for (const auto& e : sim.Trace())
    if (e.event == "rx" && e.fields.at("n") == n) return e.fields;
  return {};
}

}  // namespace

TEST(SimCommands, query_and_final_answer_with_the_configured_device_and_result) {
  SimProcess device({"--flash-size", "0x40000", "--version", "3.7", "--device-id", "0x0E"});
  EXPECT_EQ(device.Exchange(kQuery),
            (Bytes{0x00, 0x00, 0x04, 0x00, 0x03, 0x07, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x00}));
  for (auto [option, code] : {std::pair{"ok", 0x00}, {"E", 'E'}, {"G", 'G'}}) {
    SimProcess sim({"--final", option});
    EXPECT_EQ(sim.Exchange({0x08, 0x00, 0x01, 0x01, 0x04, 0x01, 0x00, 0x00}),
              (Bytes{0x08, static_cast<std::uint8_t>(code)})) << option;
    sim.Stop();
    EXPECT_EQ(Received(sim, "1")["image"], "0x00000104");
  }
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
  Bytes blanked = middle;
  std::fill_n(blanked.begin(), 4, 0xFF);
  EXPECT_EQ(dumped.Exchange(Header(0x01, 128, kBase)), Concat(Header(0x01, 128, kBase), first));
  EXPECT_EQ(dumped.Exchange(Header(0x01, 65, kBase + 0x1000)),
            Concat(Header(0x01, 65, kBase + 0x1000), blanked));
  EXPECT_EQ(dumped.Exchange(Header(0x01, 128, kBase + kFlash - 512)),
            Concat(Header(0x01, 128, kBase + kFlash - 512), last));  // the last word is in reach
  EXPECT_EQ(dumped.Stop().exitCode, 0);

  Bytes flash(kFlash, 0xFF);
  std::copy(first.begin(), first.end(), flash.begin());
  std::copy(last.begin(), last.end(), flash.end() - 512);
  std::copy(blanked.begin(), blanked.end(), flash.begin() + 0x1000);
  EXPECT_EQ(ReadFile(dumped.Path("flash.bin")), flash);
  auto rx = Received(dumped, "3");
  EXPECT_EQ(rx["cmd"] + " " + rx["words"] + " " + rx["addr"] + " " + rx["len"],
            "program 65 0x9d001000 268");
}

TEST(SimCommands, refuses_malformed_or_out_of_reach_commands_with_one_byte_and_no_change) {
  SimProcess sim({"--flash-size", "0x10000", "--dump", "{dir}/flash.bin"});
  const std::uint32_t end = kBase + 0x10000;
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
      {"out-of-flash", Concat(Header(0x02, 2, end - 4), Pattern(8, 1))},
      {"out-of-flash", Concat(Header(0x02, 1, kBase - 4), Pattern(4, 1))},
      {"out-of-flash", Concat(Header(0x02, 1, 0x1D000000), Pattern(4, 1))},
      {"out-of-flash", Header(0x22, 128, end - 256)},
      {"out-of-flash", Header(0x01, 2, end - 4)},
  };
  for (const auto& [reason, command] : malformed)
    EXPECT_EQ(sim.Exchange(command), Bytes{0x15}) << reason;
  // Close is carried out without a reply, and the device still answers afterwards.
  sim.SendCommand({0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
  EXPECT_TRUE(sim.StaysSilent());
  EXPECT_EQ(sim.Exchange(kQuery).size(), 12u);
  EXPECT_EQ(sim.Stop().exitCode, 0);
  EXPECT_EQ(ReadFile(sim.Path("flash.bin")), Bytes(0x10000, 0xFF));
  std::vector<std::string> refusals;
  for (const auto& e : sim.Trace())
    if (e.fields.contains("refused")) refusals.push_back(e.fields.at("refused"));
  ASSERT_EQ(refusals.size(), malformed.size());
  for (std::size_t i = 0; i < refusals.size(); ++i) EXPECT_EQ(refusals[i], malformed[i].first);
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
