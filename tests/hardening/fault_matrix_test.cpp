// Whatever the device does, pentrel-cli says so in words and gives the port back, and only a
// device that holds the image is ever called programmed: every fault melor-sim injects, aimed
// at the first and the last chunk of the write and the verify loop, and at the final
// command.
#include <gtest/gtest.h>
#include <termios.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "run_fixture.h"

namespace {

const std::string kSuccess = "Last Status: MELOR successfully programmed.";
const std::string kProgramTimeout = "Timeout waiting for response to program command";
const std::string kReadTimeout = "Timeout waiting for response to read command";

struct Ending {
  std::string line;        // the step's own log line (a prefix); empty for success
  std::string lastStatus;  // the last line on stdout
};

const Ending kSucceeds = {"", kSuccess};
const Ending kWriteFails = {kProgramTimeout,
                            "Last Status: Timeout error waiting for program response."};
const Ending kReadFails = {kReadTimeout, "Last Status: Timeout error waiting for response to read."};
const Ending kVerifyFails = {"Verify error (1ff) ", "Last Status: Verify error."};

Ending FinalFails(const std::string& lengthAndByte) {
  return {"Invalid response to verify command " + lengthAndByte,
          "Last Status: Unexpected response from MELOR"};
}

struct FaultCase {
  std::vector<std::string> options;
  Ending ending;
  bool deviceStays = true;  // false when the fault takes the device away
};

std::vector<FaultCase> Matrix() {
  // How each fault ends the run when aimed at a program or a read command ("" for no change).
  const struct {
    const char* kind;
    Ending program, read;
    bool stays;  // false when the fault takes the device away
  } kinds[] = {
      // A program reply is taken on its first byte alone, so a bad checksum does not refuse it.
      {"bad-checksum", kSucceeds, kReadFails, true}, {"bad-echo", kWriteFails, kReadFails, true},
      {"bad-data", {}, kVerifyFails, true},          {"no-reply", kWriteFails, kReadFails, true},
      {"dribble", kSucceeds, kSucceeds, true},       {"garbage", kSucceeds, kSucceeds, true},
      {"stray-sync", kWriteFails, kReadFails, true}, {"late", kWriteFails, kReadFails, true},
      {"hang-up", kWriteFails, kReadFails, false},   {"cut-off", kWriteFails, kReadFails, false},
  };
  std::vector<FaultCase> cases;
  // The image is 5 chunks of 512 bytes. A fault at a middle chunk takes the first one's path: a
  // chunk follows it.
  for (const char* at : {"1", "5"}) {
    for (const auto& k : kinds) {
      if (!k.program.lastStatus.empty())
        cases.push_back({{"--fault", std::string(k.kind) + "@program:" + at}, k.program, k.stays});
      cases.push_back({{"--fault", std::string(k.kind) + "@read:" + at}, k.read, k.stays});
    }
  }
  const std::pair<const char*, Ending> finals[] = {
      {"bad-checksum", FinalFails("3 8")},  // a verdict that failed its checksum is no verdict
      {"bad-echo", FinalFails("2 9")},   {"no-reply", FinalFails("0 -1")},
      {"dribble", kSucceeds},            {"garbage", kSucceeds},
      {"stray-sync", FinalFails("2 0")}, {"late", FinalFails("0 -1")},
      {"hang-up", FinalFails("0 -1")},   {"cut-off", FinalFails("0 -1")},
  };
  for (const auto& [kind, ending] : finals)
    cases.push_back({{"--fault", std::string(kind) + "@final:1"}, ending,
                     std::string(kind) != "hang-up" && std::string(kind) != "cut-off"});
  // Bursts of garbage: one the receive buffer takes and drops, one that overruns it.
  cases.push_back({{"--fault", "garbage@program:3", "--garbage-bytes", "1500"}, kSucceeds});
  cases.push_back({{"--fault", "garbage@read:3", "--garbage-bytes", "3000"}, kReadFails});
  // A late reply still inside the wait is the answer. The reply to the first query, too late for
  // it, is taken as the answer to the second, and the second's reply, in the same read behind
  // it, is dropped with the rest of that read: detection recovers.
  cases.push_back({{"--fault", "late@program:2", "--late-ms", "800"}, kSucceeds});
  cases.push_back({{"--fault", "late@query:1", "--late-ms", "150"}, kSucceeds});
  cases.push_back({{"--fault", "late@read:2", "--late-ms", "150"}, kSucceeds});
  return cases;
}

std::string CaseName(const FaultCase& c) {
  std::string name;
  for (const std::string& option : c.options) {
    if (option.rfind("--", 0) == 0) continue;
    name += (name.empty() ? "" : "_") + option;
  }
  std::replace_if(name.begin(), name.end(), [](char c) { return !isalnum(c); }, '_');
  return name;
}

void PrintTo(const FaultCase& c, std::ostream* out) { *out << CaseName(c); }

// The pty's line speed, set first when `speed` is not 0.
speed_t LineSpeed(const std::string& ptyPath, speed_t speed = 0) {
  int fd = open(ptyPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios settings{};
  tcgetattr(fd, &settings);
  if (speed != 0) {
    cfsetspeed(&settings, speed);
    tcsetattr(fd, TCSANOW, &settings);
  }
  close(fd);
  return cfgetospeed(&settings);
}

class FaultMatrix : public RunTest, public testing::WithParamInterface<FaultCase> {};

TEST_P(FaultMatrix, the_run_ends_in_words_with_the_port_given_back) {
  const FaultCase& c = GetParam();
  Bytes image = PseudoRandomBytes(2556, 30);  // an image length of exactly 2560
  std::string hex = WriteFile("image.hex", HexFileFor(image));
  SimDevice& device = StartSim("COM1", c.options);
  LineSpeed(device.ptyPath, B9600);  // as another program might have left the port

  CliResult run = Cli({hex, "COM1"});

  ASSERT_FALSE(run.out.empty());
  EXPECT_EQ(run.out.back(), c.ending.lastStatus);
  EXPECT_EQ(run.exitStatus, c.ending.line.empty() ? 0 : 1);
  if (!c.ending.line.empty()) {
    bool said = std::any_of(run.out.begin(), run.out.end(), [&](const std::string& line) {
      return line.rfind(c.ending.line, 0) == 0;
    });
    EXPECT_TRUE(said) << "no line beginning \"" << c.ending.line << "\"";
  }
  // Every wait is bounded: the slowest case, a dribbled read-back, takes about 6 s.
  EXPECT_LT(run.seconds, 60.0);
  if (c.deviceStays) {
    EXPECT_EQ(LineSpeed(device.ptyPath), B9600) << "the port's settings were not put back";
    Bytes flash = StopSim(device);
    if (c.ending.line.empty()) {
      image.resize(0x80000, 0xFF);
      EXPECT_EQ(flash, image) << "called programmed, but the flash differs";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, testing::ValuesIn(Matrix()),
                         [](const testing::TestParamInfo<FaultCase>& info) {
                           return CaseName(info.param);
                         });

}  // namespace
