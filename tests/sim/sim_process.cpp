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

struct Child {
  pid_t pid;
  int outFd;
  int errFd;
};

Child Spawn(const std::vector<std::string>& args) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
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
  return {pid, out[0], err[0]};
}

// Everything left on `fd` until its writer closes it, waiting no later than `end`.
std::string Drain(int fd, Clock::time_point end) {
  std::string text;
  char buffer[4096];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, MillisLeft(end)) <= 0) break;
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

std::optional<int> WaitExit(pid_t pid, Clock::time_point end) {
  for (;;) {
    int status = 0;
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (Clock::now() >= end) return std::nullopt;
    usleep(5000);
  }
}

}  // namespace

Finished RunSimToEnd(const std::vector<std::string>& args, Millis limit) {
  Child child = Spawn(args);
  auto end = Clock::now() + limit;
  Finished result;
  result.out = Drain(child.outFd, end);
  result.err = Drain(child.errFd, end);
  auto code = WaitExit(child.pid, end);
  if (!code) {
    kill(child.pid, SIGKILL);
    waitpid(child.pid, nullptr, 0);
  }
  result.exitCode = code.value_or(-1);
  close(child.outFd);
  close(child.errFd);
  return result;
}

std::vector<TraceEvent> ReadTrace(const std::string& path) {
  std::vector<TraceEvent> events;
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream words(line);
    TraceEvent event;
    words >> event.event;
    std::string field;
    while (words >> field) {
      auto eq = field.find('=');
      event.fields[field.substr(0, eq)] = eq == std::string::npos ? "" : field.substr(eq + 1);
    }
    events.push_back(event);
  }
  return events;
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
  Child child = Spawn(args);
  pid_ = child.pid;
  outFd_ = child.outFd;
  errFd_ = child.errFd;
  auto end = Clock::now() + Millis(5000);
  std::string line;
  char c;
  while (line.find('\n') == std::string::npos) {
    pollfd p{outFd_, POLLIN, 0};
    if (poll(&p, 1, MillisLeft(end)) <= 0 || read(outFd_, &c, 1) != 1) {
      Stop(SIGKILL);
      throw std::runtime_error("melor-sim printed no terminal path");
    }
    line += c;
  }
  slave_ = line.substr(0, line.size() - 1);
  OpenPort();
}

SimProcess::~SimProcess() {
  ClosePort();
  if (!finished_) Stop(SIGKILL);
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
  size_t done = 0;
  auto end = Clock::now() + Millis(3000);
  while (done < raw.size()) {
    ssize_t n = write(port_, raw.data() + done, raw.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN) throw std::runtime_error("write to the pty failed");
    pollfd p{port_, POLLOUT, 0};
    if (poll(&p, 1, MillisLeft(end)) <= 0) throw std::runtime_error("the pty takes no more bytes");
  }
}

Bytes SimProcess::ReadFrameBytes(Millis limit) {
  auto end = Clock::now() + limit;
  Bytes frame;
  bool escape = false;
  for (;;) {
    while (!pending_.empty()) {
      std::uint8_t b = pending_.front();
      pending_.erase(pending_.begin());
      frame.push_back(b);
      if (!escape && b == 0x04) return frame;
      escape = !escape && b == 0x05;
    }
    pollfd p{port_, POLLIN, 0};
    if (poll(&p, 1, MillisLeft(end)) <= 0)
      throw std::runtime_error("no complete frame from melor-sim in time");
    std::uint8_t buffer[1024];
    ssize_t n = read(port_, buffer, sizeof buffer);
    if (n <= 0) throw std::runtime_error("the pty failed while waiting for a frame");
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
  if (!pending_.empty()) return false;
  pollfd p{port_, POLLIN, 0};
  return poll(&p, 1, static_cast<int>(window.count())) == 0;
}

bool SimProcess::SeesHangUp(Millis limit) {
  auto end = Clock::now() + limit;
  while (Clock::now() < end) {
    pollfd p{port_, POLLIN, 0};
    if (poll(&p, 1, MillisLeft(end)) <= 0) continue;
    if (p.revents & (POLLHUP | POLLERR)) return true;
    std::uint8_t buffer[256];
    ssize_t n = read(port_, buffer, sizeof buffer);
    if (n < 0 && errno != EAGAIN) return true;
    if (n == 0) return true;
  }
  return false;
}

Finished SimProcess::Stop(int signal) {
  if (finished_) return *finished_;
  kill(pid_, signal);
  return Reap(Millis(5000));
}

Finished SimProcess::WaitForEnd(Millis limit) {
  if (finished_) return *finished_;
  return Reap(limit);
}

Finished SimProcess::Reap(Millis limit) {
  auto end = Clock::now() + limit;
  auto code = WaitExit(pid_, end);
  if (!code) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  Finished result;
  result.exitCode = code.value_or(-1);
  auto drainEnd = Clock::now() + Millis(1000);
  result.out = Drain(outFd_, drainEnd);
  result.err = Drain(errFd_, drainEnd);
  close(outFd_);
  close(errFd_);
  finished_ = result;
  return result;
}
