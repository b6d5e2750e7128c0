// pentrel-cli's endings as a process: a reader that goes away does not stop the run, and
// SIGTERM, SIGHUP and Ctrl-C end it at once with their conventional status, the port's terminal
// settings put back and the port free for the next program.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "run_fixture.h"
#include "terminal_settings.h"

namespace {

TEST_F(RunTest, a_run_whose_reader_goes_away_still_programs_the_device_and_succeeds) {
  Bytes image = PseudoRandomBytes(3000, 41);
  std::string hex = WriteFile("image.hex", HexFileFor(image));
  SimDevice& device = StartSim("COM4");

  // head goes away after the first line, long before the run's last.
  std::string status = folder_ + "/status";
  std::string command = "('" PENTREL_CLI_PATH "' '" + hex + "' COM4; echo $? > '" + status +
                        "') | head -1 > /dev/null";
  ASSERT_EQ(system(command.c_str()), 0);

  int exitStatus = -1;
  std::ifstream(status) >> exitStatus;
  EXPECT_EQ(exitStatus, 0);
  image.resize(0x80000, 0xFF);
  EXPECT_EQ(StopSim(device), image);
}

TEST_F(RunTest, SIGTERM_SIGHUP_and_Ctrl_C_end_a_run_at_once_and_put_the_port_back) {
  // ThreadSanitizer waits a second before every exit by default; that is not the program's.
  const char* tsan = getenv("TSAN_OPTIONS");
  setenv("TSAN_OPTIONS", ("atexit_sleep_ms=0 " + std::string(tsan ? tsan : "")).c_str(), 1);
  // 16 KiB at 57600 baud keep the run writing for several seconds.
  std::string hex = WriteFile("image.hex", HexFileFor(PseudoRandomBytes(16384, 42)));
  const termios normal = NormalMode();
  struct Case {
    int signal, status;
    bool duringWrite;  // else while "probe all" still waits for a device to answer
  } cases[] = {{SIGTERM, 143, true}, {SIGHUP, 129, true}, {SIGINT, 130, true},
               {SIGTERM, 143, false}};
  for (const Case& c : cases) {
    std::string what = "signal " + std::to_string(c.signal) + (c.duringWrite ? " in the write" : "");
    SimDevice& device = StartSim("COM4", {"--baud", "57600", "--answer-after",
                                          c.duringWrite ? "0" : "1000"});
    termios before = TerminalSettingsAt(device.ptyPath, &normal);
    CliProcess cli(folder_, {hex, c.duringWrite ? "COM4" : "probe all"});
    if (c.duringWrite) {
      ASSERT_TRUE(cli.AwaitOutput("Found MELOR device")) << what;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    auto sent = std::chrono::steady_clock::now();
    cli.Signal(c.signal);

    EXPECT_EQ(cli.Wait().exitStatus, c.status) << what;
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(1)) << what;
    ExpectSameTermios(before, TerminalSettingsAt(device.ptyPath), what);
    int fd = open(device.ptyPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    int exclusive = 1;
    ioctl(fd, TIOCGEXCL, &exclusive);
    close(fd);
    EXPECT_EQ(exclusive, 0) << what;
    StopSim(device);
  }
}

}  // namespace
