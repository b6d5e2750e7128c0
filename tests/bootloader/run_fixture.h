// A programming run in the test process, against melor-sim devices mapped as COM ports in a
// DOS-device folder of the test's own: the same worker thread the programs start, with a view
// that records every log line and progress text; or pentrel-cli as a process of its own.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/win32.h"

using Bytes = std::vector<uint8_t>;

// An Intel HEX file holding data at HEX address 0x1D000000 + offset, in 16-byte records.
std::string HexFileFor(const Bytes& data, uint32_t offset = 0);

// The whole contents of the file at path.
Bytes FileBytes(const std::string& path);

// The file's lines, without their line ends.
std::vector<std::string> LinesOf(const std::string& path);

// Bytes from a fixed seed, so that failures repeat.
Bytes PseudoRandomBytes(size_t count, uint32_t seed);

// The kinds of command a device's trace shows it received, in order ("query", "program", ...).
std::vector<std::string> CommandsReceived(const std::vector<std::string>& trace);

struct SimDevice {
  pid_t pid = -1;
  FILE* output = nullptr;  // its stdout, kept open so that its closing summary has a reader
  std::string comName;
  std::string ptyPath;
  std::string dumpPath;
  std::string tracePath;
};

struct RunOutcome {
  std::vector<std::string> log;       // every line, trailing padding removed (blank lines as "")
  std::vector<std::string> progress;  // every progress text, padding removed
  std::string lastStatus;
  bool showSetupSent = false;
  uint32_t threadExitCode = 0;

  // The log lines after the 14 blank ones that open every run.
  std::vector<std::string> RunLines() const;
};

struct CliResult {
  int exitStatus = -1;  // 128 + the signal's number when a signal ended it
  std::vector<std::string> out;  // stdout, line by line
  std::vector<std::string> err;
};

// pentrel-cli (or the program at the path given) started as its own process with the test's
// arguments; its output goes to files in folder.
class CliProcess {
 public:
  CliProcess(const std::string& folder, const std::vector<std::string>& arguments,
             const std::string& program = "");
  void Signal(int signal);
  CliResult Wait();
  // Waits until stdout holds the text (at most a minute); false if it never did.
  bool AwaitOutput(const std::string& text);

 private:
  pid_t pid_ = -1;
  std::string outPath_, errPath_;
};

class RunTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts melor-sim as the named port; extra options as melor-sim takes them.
  SimDevice& StartSim(const std::string& comName, const std::vector<std::string>& options = {});

  // Stops the device and returns its flash.
  Bytes StopSim(SimDevice& device);

  // Pulls the plug: the device vanishes at once, and its port with it.
  void KillSim(SimDevice& device);

  // The commands the device received, one trace line each as melor-sim writes it, without its
  // time.
  std::vector<std::string> TraceOf(const SimDevice& device);

  // Writes text into a file in the test's folder and returns its path.
  std::string WriteFile(const std::string& name, const std::string& text);

  // Runs a worker thread of the core (ProgramThread unless given) to its end with the settings
  // given; onLine sees every log line as logged.
  RunOutcome Run(const std::string& hexFile, const std::string& comName,
                 std::function<void(const std::string&)> onLine = nullptr,
                 DWORD (*worker)(LPVOID) = nullptr, LPVOID parameter = nullptr);

  // pentrel-cli run to its end on the test's DOS-device folder.
  CliResult Cli(const std::vector<std::string>& arguments) {
    return CliProcess(folder_, arguments).Wait();
  }

  // A device on COM3 that holds image from offset 0, programmed by a run.
  SimDevice& ProgrammedDevice(const Bytes& image, const std::vector<std::string>& options = {});

  // True when the port opens exclusively right now (it was given back).
  bool PortIsFree(const std::string& comName);

  std::string folder_;
  std::deque<SimDevice> devices_;  // a deque: references stay valid as devices are added
};
