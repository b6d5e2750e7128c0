// pentrel-cli's endings as a process: a reader that goes away does not stop the run, and
// SIGTERM, SIGHUP and Ctrl-C end it at once with their conventional status, the port's terminal
// settings put back and the port free for the next program.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "run_fixture.h"
#include "terminal_settings.h"

namespace {

// pentrel-cli on the port, its stdout and stderr each a pipe whose read end the test holds.
struct PipedCli {
  pid_t pid = -1;
  int out = -1, err = -1;

  PipedCli(const std::string& hexFile, const std::string& port) {
    int outPipe[2], errPipe[2];
    EXPECT_EQ(pipe(outPipe), 0);
    EXPECT_EQ(pipe(errPipe), 0);
    // ThreadSanitizer waits a second before every exit by default; that is not the program's.
    const char* tsan = getenv("TSAN_OPTIONS");
    std::string tsanOptions = "TSAN_OPTIONS=atexit_sleep_ms=0 " + std::string(tsan ? tsan : "");
    std::vector<char*> environment;
    for (char** entry = environ; *entry != nullptr; entry++) {
      if (strncmp(*entry, "TSAN_OPTIONS=", 13) != 0) environment.push_back(*entry);
    }
    environment.push_back(tsanOptions.data());
    environment.push_back(nullptr);
    const char* argv[] = {PENTREL_CLI_PATH, hexFile.c_str(), port.c_str(), nullptr};
    pid = fork();
    if (pid == 0) {
      dup2(outPipe[1], STDOUT_FILENO);
      dup2(errPipe[1], STDERR_FILENO);
      for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) close(fd);
      execve(PENTREL_CLI_PATH, const_cast<char**>(argv), environment.data());
      _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    out = outPipe[0];
    err = errPipe[0];
  }
  ~PipedCli() {
    for (int fd : {out, err}) if (fd >= 0) close(fd);
    if (pid > 0) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
  }

  // Reads stdout until a line begins with the prefix (at most 20 s); false if none did.
  bool AwaitLine(const std::string& prefix) {
    std::string line;
    auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < limit) {
      pollfd entry{out, POLLIN, 0};
      char c;
      if (poll(&entry, 1, 100) <= 0) continue;
      if (read(out, &c, 1) != 1) return false;
      if (c != '\n') {
        line += c;
      } else if (line.rfind(prefix, 0) == 0) {
        return true;
      } else {
        line.clear();
      }
    }
    return false;
  }

  void CloseReaders() {
    close(out);
    close(err);
    out = err = -1;
  }

  // The exit status (128 + signal for a process killed by one), -1 if it has not ended in time.
  int Wait(std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > end) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
};

TEST_F(RunTest, a_run_whose_reader_goes_away_still_programs_the_device_and_succeeds) {
  Bytes image = PseudoRandomBytes(3000, 41);
  std::string hex = WriteFile("image.hex", HexFileFor(image));
  SimDevice& device = StartSim("COM4");

  PipedCli cli(hex, "COM4");
  ASSERT_TRUE(cli.AwaitLine("Found MELOR device"));
  cli.CloseReaders();  // as `| head -1` does after its line

  EXPECT_EQ(cli.Wait(std::chrono::seconds(60)), 0);
  image.resize(0x80000, 0xFF);
  EXPECT_EQ(StopSim(device), image);
}

TEST_F(RunTest, SIGTERM_SIGHUP_and_Ctrl_C_end_a_run_at_once_and_put_the_port_back) {
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
    PipedCli cli(hex, c.duringWrite ? "COM4" : "probe all");
    if (c.duringWrite) {
      ASSERT_TRUE(cli.AwaitLine("Found MELOR device")) << what;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    kill(cli.pid, c.signal);

    EXPECT_EQ(cli.Wait(std::chrono::seconds(1)), c.status) << what;
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
