// pentrel-cli's endings as a process: a reader that goes away does not stop the run, and
// SIGTERM, SIGHUP and Ctrl-C end it at once with their conventional status, the port's terminal
// settings put back and the port free for the next program.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "run_fixture.h"
#include "terminal_settings.h"

namespace {

TEST_F(RunTest, a_run_whose_reader_goes_away_still_programs_the_device_and_succeeds) {
  std::string hex = WriteFile("image.hex", HexFileFor(PseudoRandomBytes(3000, 41)));
  StartSim("COM4");

  // head goes away after the first line, long before the run's last; with pipefail, the
  // pipeline's status is the run's own (141 had SIGPIPE ended it, 1 a failed run; what a
  // successful run leaves in the flash is the run tests' to check).
  std::string command = "bash -o pipefail -c \"'" PENTREL_CLI_PATH "' '" + hex +
                        "' COM4 | head -1 > /dev/null\"";
  EXPECT_EQ(system(command.c_str()), 0);
}

// With several ports, the request reaches every child, and the parent waits for them.
TEST_F(RunTest, SIGTERM_SIGHUP_and_Ctrl_C_end_a_run_at_once_and_put_every_port_back) {
  // ThreadSanitizer waits a second before every exit by default; that is not the program's.
  const char* tsan = getenv("TSAN_OPTIONS");
  setenv("TSAN_OPTIONS", ("atexit_sleep_ms=0 " + std::string(tsan ? tsan : "")).c_str(), 1);
  // 16 KiB at 57600 baud keep the run writing for several seconds.
  std::string hex = WriteFile("image.hex", HexFileFor(PseudoRandomBytes(16384, 42)));
  const termios normal = NormalMode();
  struct Case {
    int signal, status;
    std::vector<std::string> ports;  // "probe all" waits for a device that never answers
  } cases[] = {{SIGTERM, 143, {"COM4"}}, {SIGHUP, 129, {"COM4"}}, {SIGINT, 130, {"COM4"}},
               {SIGTERM, 143, {"probe all"}}, {SIGTERM, 143, {"COM5", "COM7"}}};
  for (const Case& c : cases) {
    std::string what = "signal " + std::to_string(c.signal) + " on " + c.ports[0];
    bool probing = c.ports[0] == "probe all";
    std::vector<SimDevice*> devices;
    std::vector<termios> before;
    for (const std::string& port : c.ports) {
      devices.push_back(&StartSim(probing ? "COM4" : port,
                                  {"--baud", "57600", "--answer-after", probing ? "1000" : "0"}));
      before.push_back(TerminalSettingsAt(devices.back()->ptyPath, &normal));
    }
    std::vector<std::string> arguments = c.ports;
    arguments.insert(arguments.begin(), hex);
    CliProcess cli(folder_, arguments);
    for (size_t i = 0; i < c.ports.size() && !probing; i++) {
      ASSERT_TRUE(cli.AwaitOutput("Found MELOR device on " + c.ports[i])) << what;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    auto sent = std::chrono::steady_clock::now();
    cli.Signal(c.signal);

    EXPECT_EQ(cli.Wait().exitStatus, c.status) << what;
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(1)) << what;
    for (size_t i = 0; i < devices.size(); i++) {
      EXPECT_EQ(TermiosFields(before[i]), TermiosFields(TerminalSettingsAt(devices[i]->ptyPath)))
          << what;
      EXPECT_FALSE(ExclusiveMode(devices[i]->ptyPath)) << what;
      StopSim(*devices[i]);
    }
  }
}

}  // namespace
