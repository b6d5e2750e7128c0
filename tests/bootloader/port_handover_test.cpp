// How a run treats the port it is given: a terminal in normal mode goes back exactly as it was
// after every ending, and the wait for a reply starts once the command has left. (Bytes queued
// before the open are no answer: tests/serial/port_release_test.cpp.)
#include <gtest/gtest.h>

#include "run_fixture.h"
#include "terminal_settings.h"

namespace {

const std::string kSuccess = "Last Status: MELOR successfully programmed.";

TEST_F(RunTest, a_port_in_normal_mode_is_put_back_exactly_after_success_failure_and_as_a_spare) {
  std::string hex = WriteFile("image.hex", HexFileFor(PseudoRandomBytes(600, 31)));
  const termios normal = NormalMode();  // as a user's `stty sane 9600` leaves it
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::vector<std::string>>> sims;
    std::string port, lastStatus;
  } cases[] = {
      {"a programmed device", {{"COM4", {}}}, "COM4", kSuccess},
      {"a failed verify", {{"COM4", {"--fault", "bad-data@read:2"}}}, "COM4",
       "Last Status: Verify error."},
      {"probe all, with a spare port of another device",
       {{"COM1", {"--device-id", "0x0E"}}, {"COM2", {}}}, "probe all", kSuccess},
  };
  for (const Case& c : cases) {
    std::vector<SimDevice*> devices;
    std::vector<termios> before;
    for (const auto& [name, options] : c.sims) {
      devices.push_back(&StartSim(name, options));
      before.push_back(TerminalSettingsAt(devices.back()->ptyPath, &normal));
    }
    EXPECT_EQ(Run(hex, c.port).lastStatus, c.lastStatus) << c.what;
    for (size_t i = 0; i < devices.size(); i++) {
      ExpectSameTermios(before[i], TerminalSettingsAt(devices[i]->ptyPath),
                        c.what + (" on " + c.sims[i].first));
      StopSim(*devices[i]);
    }
  }
}

// 512 bytes that all need an escape frame into about 1,040 bytes: 180 ms at 57600 baud. The
// device answers 1,000 ms after the last of them, within the ten empty reads a program reply may
// take only if their count starts when the frame has gone.
TEST_F(RunTest, a_reply_1000_ms_after_a_fully_escaped_chunk_at_57600_baud_is_in_time) {
  std::string hex = WriteFile("image.hex", HexFileFor(Bytes(512, 0x55)));
  SimDevice& device = StartSim("COM4", {"--baud", "57600", "--fault", "late@program:1",
                                        "--late-ms", "1000"});

  EXPECT_EQ(Run(hex, "COM4").lastStatus, kSuccess);
  Bytes flash = StopSim(device);
  ASSERT_GE(flash.size(), 512u);
  EXPECT_EQ(Bytes(flash.begin(), flash.begin() + 512), Bytes(512, 0x55));
}

}  // namespace
