// A melor-sim child process for the tests.
#include "sim_process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int MillisLeft(Clock::time_point end) {
  auto left = std::chrono::duration_cast<Millis>(end - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

// True when `fd` has something to read (or has hung up) before `end`.
bool Readable(int fd, Clock::time_point end) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, MillisLeft(end)) > 0;
}

void Spawn(const std::vector<std::string>& args, pid_t* pid, int* outFd, int* errFd) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 || (*pid = fork()) < 0)
    throw std::runtime_error("cannot start melor-sim");
  if (*pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    std::vector<char*> argv{const_cast<char*>(MELOR_SIM_PATH)};
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(MELOR_SIM_PATH, argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  *outFd = out[0];
  *errFd = err[0];
}

// Everything left on `fd` until its writer closes it, waiting no later than `end`; closes it.
std::string Drain(int fd, Clock::time_point end) {
  std::string text;
  char buffer[4096];
  ssize_t n;
  while (Readable(fd, end) && (n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, n);
  close(fd);
  return text;
}

// Waits for the child until `limit` has passed, then kills it; collects its output.
Finished Reap(pid_t pid, int outFd, int errFd, Millis limit) {
  auto end = Clock::now() + limit;
  Finished result;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) != pid) {
    if (Clock::now() >= end) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      status = -1;
      break;
    }
    usleep(5000);
  }
  if (status != -1) result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  auto drainEnd = Clock::now() + Millis(1000);
  result.out = Drain(outFd, drainEnd);
  result.err = Drain(errFd, drainEnd);
  return result;
}

}  // namespace

Finished RunSimToEnd(const std::vector<std::string>& args) {
  pid_t pid;
  int outFd, errFd;
  Spawn(args, &pid, &outFd, &errFd);
  return Reap(pid, outFd, errFd, Millis(5000));
}

Bytes ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

SimProcess::SimProcess(std::vector<std::string> args) {
  char folder[] = "/tmp/melor-sim-test-XXXXXX";
  if (!mkdtemp(folder)) throw std::runtime_error("mkdtemp failed");
  dir_ = folder;
  for (auto& arg : args)
    if (auto at = arg.find("{dir}"); at != std::string::npos) arg.replace(at, 5, dir_);
  args.insert(args.begin(), {"--trace", Path("trace"), "--timeout", "60"});
  Spawn(args, &pid_, &outFd_, &errFd_);
  auto end = Clock::now() + Millis(5000);
  char c;
  while (Readable(outFd_, end) && read(outFd_, &c, 1) == 1 && c != '\n') slave_ += c;
  if (slave_.rfind("/dev/", 0) != 0) {
    Stop(SIGKILL);
    throw std::runtime_error("melor-sim printed no terminal path");
  }
  OpenPort();
}

SimProcess::~SimProcess() {
  ClosePort();
  Stop(SIGKILL);
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

void SimProcess::OpenPort() {
  port_ = open(slave_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (port_ < 0) throw std::runtime_error("cannot open " + slave_);
  termios settings{};
  tcgetattr(port_, &settings);
  cfmakeraw(&settings);
  tcsetattr(port_, TCSANOW, &settings);
  pending_.clear();
}

void SimProcess::ClosePort() {
  if (port_ >= 0) close(port_);
  port_ = -1;
}

void SimProcess::Send(const Bytes& raw) {
  auto end = Clock::now() + Millis(3000);
  for (size_t done = 0; done < raw.size();) {
    ssize_t n = write(port_, raw.data() + done, raw.size() - done);
    if (n > 0) done += static_cast<size_t>(n);
    pollfd p{port_, POLLOUT, 0};
    if (n <= 0 && (errno != EAGAIN || poll(&p, 1, MillisLeft(end)) <= 0))
      throw std::runtime_error("the pty takes no more bytes");
  }
}

Bytes SimProcess::ReadFrameBytes(Millis limit) {
  auto end = Clock::now() + limit;
  Bytes frame;
  bool escape = false;
  lastReads.clear();
  for (;;) {
    while (!pending_.empty()) {
      std::uint8_t b = pending_.front();
      pending_.erase(pending_.begin());
      frame.push_back(b);
      if (!escape && b == 0x04) return frame;
      escape = !escape && b == 0x05;
    }
    std::uint8_t buffer[1024];
    ssize_t n = Readable(port_, end) ? read(port_, buffer, sizeof buffer) : 0;
    if (n <= 0) throw std::runtime_error("no complete frame from melor-sim in time");
    lastReads.push_back(Clock::now());
    pending_.insert(pending_.end(), buffer, buffer + n);
  }
}

Bytes SimProcess::Exchange(const Bytes& payload) {
  SendCommand(payload);
  Decoded reply = DecodeWire(ReadFrameBytes());
  if (!reply.checksumOk) throw std::runtime_error("reply with a bad checksum");
  return reply.payload;
}

bool SimProcess::StaysSilent(Millis window) {
  return pending_.empty() && !Readable(port_, Clock::now() + window);
}

bool SimProcess::SeesHangUp(Millis limit) {
  auto end = Clock::now() + limit;
  std::uint8_t buffer[256];
  while (Clock::now() < end && Readable(port_, end)) {
    ssize_t n = read(port_, buffer, sizeof buffer);
    if (n == 0 || (n < 0 && errno != EAGAIN)) return true;
  }
  return false;
}

Finished SimProcess::Stop(int signal, Millis limit) {
  if (!finished_) {
    if (signal != 0) kill(pid_, signal);
    finished_ = Reap(pid_, outFd_, errFd_, limit);
  }
  return *finished_;
}

std::vector<TraceEvent> SimProcess::Trace() const {
  std::vector<TraceEvent> events;
  std::ifstream file(Path("trace"));
  for (std::string line; std::getline(file, line);) {
    std::istringstream words(line);
    TraceEvent event;
    words >> event.event;
    for (std::string field; words >> field;) {
      auto eq = field.find('=');
      event.fields[field.substr(0, eq)] = eq == std::string::npos ? "" : field.substr(eq + 1);
    }
    events.push_back(event);
  }
  return events;
}
