// The programming-run fixture: melor-sim processes, HEX files, and a recording view.
#include "run_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "bootloader/program_thread.h"
#include "hex_records.h"
#include "log/message_log.h"
#include "platform/text.h"
#include "platform/view_window.h"
#include "port_state.h"
#include "serial/port_list.h"
#include "settings/settings.h"

namespace {

std::string Utf8(const std::u16string& text) {
  char buffer[1024];
  Utf16ToUtf8(text.c_str(), buffer, sizeof buffer);
  return buffer;
}

// A log row without the blanks that pad it to the log's width.
std::string Trimmed(const char16_t* line) {
  std::u16string row(line, kLogLineWidth);
  return Utf8(row.substr(0, row.find_last_not_of(u' ') + 1));
}

// What the recording view has seen of the current run.
RunOutcome* recording;
std::function<void(const std::string&)> lineHook;

LRESULT CALLBACK RecordingView(HWND, UINT message, WPARAM, LPARAM) {
  if (message == WM_LOG_LINES) {
    std::vector<std::string> fresh;
    WaitForSingleObject(MessageLog.lock, INFINITE);
    while (MessageLog.displayIndex != MessageLog.writeIndex) {
      fresh.push_back(Trimmed(MessageLog.ring[MessageLog.displayIndex]));
      MessageLog.displayIndex = (MessageLog.displayIndex + 1) % kLogLines;
    }
    ReleaseMutex(MessageLog.lock);
    for (const std::string& line : fresh) {
      recording->log.push_back(line);
      if (lineHook) lineHook(line);
    }
  } else if (message == WM_PROGRESS_LINE) {
    recording->progress.push_back(Trimmed(MessageLog.progressLine));
  } else if (message == WM_SHOW_SETUP) {
    recording->showSetupSent = true;
  }
  return 0;
}

HWND RecordingWindow() {
  static HWND window = [] {
    InitMessageLog();
    return CreateViewWindow(RecordingView);
  }();
  return window;
}

// Starts the program words[0] with its stdout, and its stderr when given, on the descriptors given.
pid_t Spawn(std::vector<std::string> words, int out, int err = -1) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  dup2(out, STDOUT_FILENO);
  if (err >= 0) dup2(err, STDERR_FILENO);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

}  // namespace

std::vector<std::string> RunOutcome::RunLines() const {
  return std::vector<std::string>(log.begin() + std::min<size_t>(log.size(), 14), log.end());
}

std::string HexFileFor(const Bytes& data, uint32_t offset) {
  std::string hex;
  uint32_t upper = 0xFFFFFFFF;
  for (size_t at = 0; at < data.size(); at += 16) {
    uint32_t address = 0x1D000000 + offset + static_cast<uint32_t>(at);
    if (address >> 16 != upper) hex += Upper(static_cast<uint16_t>(upper = address >> 16)) + "\n";
    Bytes record(data.begin() + at, data.begin() + std::min(data.size(), at + 16));
    hex += Record(0x00, static_cast<uint16_t>(address), record) + "\n";
  }
  return hex + kEndOfFile + "\n";
}

Bytes FileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<std::string> LinesOf(const std::string& path) {
  std::ifstream file(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

Bytes PseudoRandomBytes(size_t count, uint32_t seed) {
  std::mt19937 generator(seed);
  Bytes bytes(count);
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(generator());
  return bytes;
}

void RunTest::SetUp() {
  char pattern[] = "/tmp/pentrel-run.XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  folder_ = pattern;
  mkdir((folder_ + "/dosdevices").c_str(), 0755);
  setenv("PENTREL_DOSDEVICES", (folder_ + "/dosdevices").c_str(), 1);
  AbortRequested = 0;
  ResetSettings();
  LogWindow = RecordingWindow();
}

void RunTest::TearDown() {
  for (SimDevice& device : devices_) {
    if (device.pid > 0) StopSim(device);
  }
  std::filesystem::remove_all(folder_);
}

SimDevice& RunTest::StartSim(const std::string& comName, const std::vector<std::string>& options) {
  SimDevice device;
  device.comName = comName;
  device.dumpPath = folder_ + "/" + comName + ".flash";
  device.tracePath = folder_ + "/" + comName + ".trace";
  std::vector<std::string> words = {MELOR_SIM_PATH, "--link", folder_ + "/dosdevices/" + comName,
                                    "--dump", device.dumpPath, "--trace", device.tracePath,
                                    "--timeout", "300"};
  words.insert(words.end(), options.begin(), options.end());
  int output[2];
  EXPECT_EQ(pipe(output), 0);
  device.pid = Spawn(words, output[1]);
  close(output[1]);
  device.output = fdopen(output[0], "r");
  char line[256] = "";
  fgets(line, sizeof line, device.output);
  device.ptyPath = std::string(line, strcspn(line, "\n"));
  EXPECT_EQ(device.ptyPath.rfind("/dev/", 0), 0u) << "melor-sim did not start: " << line;
  devices_.push_back(device);
  return devices_.back();
}

// Signals the device and reaps it.
static void EndSim(SimDevice& device, int signal) {
  kill(device.pid, signal);
  int status;
  waitpid(device.pid, &status, 0);
  fclose(device.output);
  device.pid = -1;
}

Bytes RunTest::StopSim(SimDevice& device) {
  EndSim(device, SIGTERM);
  return FileBytes(device.dumpPath);
}

void RunTest::KillSim(SimDevice& device) {
  EndSim(device, SIGKILL);
  // A killed device leaves its link behind, and the kernel gives its terminal's number to the
  // next one opened, perhaps a device of a test running beside this one. The port is left
  // pointing at nothing, as a COM port whose adapter was pulled.
  std::string link = folder_ + "/dosdevices/" + device.comName;
  unlink(link.c_str());
  EXPECT_EQ(symlink((folder_ + "/unplugged").c_str(), link.c_str()), 0);
}

std::vector<std::string> RunTest::TraceOf(const SimDevice& device) {
  std::vector<std::string> received;
  for (const std::string& line : LinesOf(device.tracePath))
    if (line.rfind("rx ", 0) == 0) received.push_back(line.substr(0, line.find(" at=")));
  return received;
}

std::string RunTest::WriteFile(const std::string& name, const std::string& text) {
  std::string path = folder_ + "/" + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

RunOutcome RunTest::Run(const std::string& hexFile, const std::string& comName,
                        std::function<void(const std::string&)> onLine, DWORD (*worker)(LPVOID),
                        LPVOID parameter) {
  RunOutcome outcome;
  recording = &outcome;
  lineHook = onLine;
  TextCopy(HexFileName, kPathCapacity, ToU16(hexFile).c_str());
  TextCopy(ComName, kPathCapacity, ToU16(comName).c_str());
  HANDLE thread = CreateThread(nullptr, 0, worker ? worker : ProgramThread, parameter, 0, nullptr);
  EXPECT_NE(thread, nullptr);
  // Generous: the slowest ending, 300 silent detection attempts, takes about 30 s.
  if (WaitForSingleObject(thread, 180000) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "the run did not end";
    abort();
  }
  GetExitCodeThread(thread, &outcome.threadExitCode);
  CloseHandle(thread);
  outcome.lastStatus = Utf8(MessageLog.lastStatus);
  recording = nullptr;
  lineHook = nullptr;
  return outcome;
}

// TraceOf's lines are the received commands alone, each with one " cmd=KIND ".
std::vector<std::string> CommandsReceived(const std::vector<std::string>& trace) {
  std::vector<std::string> kinds;
  for (const std::string& line : trace) {
    size_t at = line.find(" cmd=") + 5;
    kinds.push_back(line.substr(at, line.find(' ', at) - at));
  }
  return kinds;
}

SimDevice& RunTest::ProgrammedDevice(const Bytes& image, const std::vector<std::string>& options) {
  SimDevice& device = StartSim("COM3", options);
  EXPECT_EQ(Run(WriteFile("image.hex", HexFileFor(image)), "COM3").lastStatus,
            "Last Status: MELOR successfully programmed.");
  return device;
}

static std::atomic<int> cliStarted{0};

CliProcess::CliProcess(const std::string& folder, const std::vector<std::string>& arguments,
                       const std::string& program) {
  std::string name = folder + "/cli" + std::to_string(cliStarted++);
  outPath_ = name + ".out";
  errPath_ = name + ".err";
  int out = open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  int err = open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> words = {program.empty() ? PENTREL_CLI_PATH : program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  pid_ = Spawn(words, out, err);
  close(out);
  close(err);
}

void CliProcess::Signal(int signal) { kill(pid_, signal); }

CliResult CliProcess::Wait() {
  int status = 0;
  waitpid(pid_, &status, 0);
  int exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return {exit, LinesOf(outPath_), LinesOf(errPath_)};
}

bool CliProcess::AwaitOutput(const std::string& text) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (std::chrono::steady_clock::now() < deadline) {
    Bytes out = FileBytes(outPath_);
    if (std::search(out.begin(), out.end(), text.begin(), text.end()) != out.end()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

bool RunTest::PortIsFree(const std::string& comName) {
  return TestPortOpen(ToU16(comName).c_str()) == 0;
}
