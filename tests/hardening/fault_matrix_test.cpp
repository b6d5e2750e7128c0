// Whatever the device does, pentrel-cli says so in words and gives the port back, and only a
// device that holds the image is ever called programmed: every fault melor-sim injects, aimed
// at the first and the last chunk of the write and the verify loop, and at the final
// command. (The Last Status text of each step is checked by the run tests.)
#include <gtest/gtest.h>

#include <algorithm>

#include "run_fixture.h"
#include "terminal_settings.h"

namespace {

const std::string kSuccess = "Last Status: MELOR successfully programmed.";

struct FaultCase {
  std::vector<std::string> options;
  std::string line;         // the start of the failing step's log line; empty for success
  bool deviceStays = true;  // false when the fault takes the device away
};

std::vector<FaultCase> Matrix() {
  const std::string kWrite = "Timeout waiting for response to program command";
  const std::string kRead = "Timeout waiting for response to read command";
  const std::string kFinal = "Invalid response to verify command ";
  // How each fault ends the run aimed at a program, a read and the final command ("-": not
  // aimed there). A program reply is taken on its first byte alone, so a bad checksum does
  // not refuse it; a verdict that failed its checksum is no verdict.
  const struct {
    std::string kind, program, read, final;
  } kinds[] = {
      {"bad-checksum", "", kRead, kFinal + "3 8"},   {"bad-echo", kWrite, kRead, kFinal + "2 9"},
      {"bad-data", "-", "Verify error (1ff) ", "-"}, {"no-reply", kWrite, kRead, kFinal + "0 -1"},
      {"dribble", "", "", ""},                       {"garbage", "", "", ""},
      {"stray-sync", kWrite, kRead, kFinal + "2 0"}, {"late", kWrite, kRead, kFinal + "0 -1"},
      {"hang-up", kWrite, kRead, kFinal + "0 -1"},   {"cut-off", kWrite, kRead, kFinal + "0 -1"},
      {"short", "", kRead, kFinal + "1 8"},
  };
  std::vector<FaultCase> cases;
  for (const auto& k : kinds) {
    auto add = [&](const std::string& at, const std::string& line) {
      if (line != "-") cases.push_back({{"--fault", k.kind + "@" + at}, line,
                                        k.kind != "hang-up" && k.kind != "cut-off"});
    };
    // The image is 5 chunks of 512 bytes. A fault at a middle chunk takes the first one's
    // path: a chunk follows it.
    for (std::string chunk : {"1", "5"}) {
      add("program:" + chunk, k.program);
      add("read:" + chunk, k.read);
    }
    add("final:1", k.final);
  }
  // Bursts of garbage: one the receive buffer takes and drops, one that overruns it.
  cases.push_back({{"--fault", "garbage@program:3", "--garbage-bytes", "1500"}, ""});
  cases.push_back({{"--fault", "garbage@read:3", "--garbage-bytes", "3000"}, kRead});
  // A late reply still inside the wait is the answer. The reply to the first query, too late for
  // it, is taken as the answer to the second, and the second's reply, in the same read behind
  // it, is dropped with the rest of that read: detection recovers.
  cases.push_back({{"--fault", "late@program:2", "--late-ms", "800"}, ""});
  cases.push_back({{"--fault", "late@query:1", "--late-ms", "150"}, ""});
  cases.push_back({{"--fault", "late@read:2", "--late-ms", "150"}, ""});
  return cases;
}

// A case by its fault, as ctest names it and a failure shows it: "bad-checksum@program:1".
void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.options[1]; }

class FaultMatrix : public RunTest, public testing::WithParamInterface<FaultCase> {};

TEST_P(FaultMatrix, the_run_ends_in_words_with_the_port_given_back) {
  const FaultCase& c = GetParam();
  Bytes image = PseudoRandomBytes(2556, 30);  // an image length of exactly 2560
  std::string hex = WriteFile("image.hex", HexFileFor(image));
  SimDevice& device = StartSim("COM1", c.options);
  const termios normal = NormalMode();  // as another program might have left the port
  termios before = TerminalSettingsAt(device.ptyPath, &normal);

  CliResult run = Cli({hex, "COM1"});

  ASSERT_FALSE(run.out.empty());
  EXPECT_EQ(run.exitStatus, c.line.empty() ? 0 : 1);
  EXPECT_EQ(run.out.back() == kSuccess, c.line.empty()) << run.out.back();
  EXPECT_TRUE(c.line.empty() || std::any_of(run.out.begin(), run.out.end(), [&](const auto& line) {
                return line.rfind(c.line, 0) == 0;
              })) << "no line beginning \"" << c.line << "\"";
  if (c.deviceStays) {
    EXPECT_EQ(TermiosFields(before), TermiosFields(TerminalSettingsAt(device.ptyPath)));
    Bytes flash = StopSim(device);
    image.resize(0x80000, 0xFF);
    EXPECT_TRUE(!c.line.empty() || flash == image) << "called programmed, but the flash differs";
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, testing::ValuesIn(Matrix()));

}  // namespace
