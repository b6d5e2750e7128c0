// How a run treats the port it is given: a terminal in normal mode goes back exactly as it was
// after every ending, bytes queued before the open are no answer, and the wait for a reply
// starts once the command has left.
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

// The far end is a terminal of the test's own that never answers; before the run it has queued
// a valid query reply (flash 0x80000, v1.2, id 0x0F), as a device might have while no program
// had the port open.
TEST_F(RunTest, a_stale_query_reply_queued_before_the_open_is_not_taken_for_an_answer) {
  std::string hex = WriteFile("image.hex", HexFileFor(PseudoRandomBytes(64, 32)));
  int master, slave;
  char path[256];
  termios raw{};
  cfmakeraw(&raw);  // as an earlier run left the line
  // Our own descriptor of the near end keeps the line's input queue alive between openers, as
  // a serial driver's buffers do.
  ASSERT_EQ(openpty(&master, &slave, path, &raw, nullptr), 0);
  ASSERT_EQ(symlink(path, (folder_ + "/dosdevices/COM6").c_str()), 0);
  const uint8_t staleReply[] = {0x55, 0x55, 0x55, 0x55, 0x00, 0x00, 0x08, 0x00, 0x01,
                                0x02, 0x0F, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE6, 0x04};
  ASSERT_EQ(write(master, staleReply, sizeof staleReply), static_cast<ssize_t>(sizeof staleReply));

  RunOutcome run = Run(hex, "COM6");

  close(master);
  close(slave);
  EXPECT_EQ(run.lastStatus, "Last Status: MELOR not found");
  std::vector<std::string> lines = run.RunLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Found MELOR device on COM6"), 0);
  EXPECT_EQ(lines.back(), "MELOR not detected");
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
