// A melor-sim child process for the tests, and the tool's end of its pty: started with the
// given options, always stopped and reaped, with a temporary folder for its trace and dump.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "wire.h"

using Millis = std::chrono::milliseconds;

struct Finished {
  int exitCode = -1;  // -1 when it did not end by itself in time
  std::string out;
  std::string err;
};

// Runs melor-sim with `args` until it ends by itself (at most 5 s), as for bad options.
Finished RunSimToEnd(const std::vector<std::string>& args);

struct TraceEvent {
  std::string event;
  std::map<std::string, std::string> fields;
};

Bytes ReadFile(const std::string& path);

class SimProcess {
 public:
  // "{dir}" in an argument stands for the process's temporary folder.
  explicit SimProcess(std::vector<std::string> args = {});
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // A path in this process's temporary folder.
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  const std::string& slave() const { return slave_; }
  pid_t pid() const { return pid_; }

  void OpenPort();  // opens the slave in raw mode (done by the constructor)
  void ClosePort();
  void Send(const Bytes& raw);
  void SendCommand(const Bytes& payload) { Send(WireFrame(payload)); }

  // Raw bytes up to and including the first unescaped terminator; throws when none comes in time.
  Bytes ReadFrameBytes(Millis limit = Millis(3000));
  // When each read of the last ReadFrameBytes call got its bytes.
  std::vector<std::chrono::steady_clock::time_point> lastReads;
  // Sends `payload` as a frame and gives back the reply's payload (its checksum must hold).
  Bytes Exchange(const Bytes& payload);
  // True when no byte arrives within `window`.
  bool StaysSilent(Millis window = Millis(300));
  // Reads from the pty until it reports an error or hang-up; false when it stays open for `limit`.
  bool SeesHangUp(Millis limit = Millis(3000));

  // Sends `signal` (0: none, it ends by itself) and waits at most `limit`; gives back how it
  // ended, with the rest of its output.
  Finished Stop(int signal = 15, Millis limit = Millis(5000));
  std::vector<TraceEvent> Trace() const;

 private:
  std::string dir_;
  std::string slave_;
  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  int port_ = -1;
  Bytes pending_;  // bytes read past the end of the last frame
  std::optional<Finished> finished_;
};
