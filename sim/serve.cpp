// The serving loop.
#include "serve.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopSignal = 0;
sigset_t waitMask;  // the mask during waits: the stop signals let through

// While no one has the terminal open, the master reports a hang-up at once on every poll; this
// pause between looks keeps that from becoming a busy loop.
constexpr auto kClosedPause = std::chrono::milliseconds(10);
constexpr auto kCutOffPause = std::chrono::milliseconds(50);

void OnStopSignal(int) { stopSignal = 1; }

timespec Until(SimClock::time_point wake) {
  auto left = std::clamp<SimClock::duration>(wake - SimClock::now(), SimClock::duration::zero(),
                                             std::chrono::hours(1));
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
  return timespec{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

std::string CommandFields(const Session& s, const Command& command) {
  return "n=" + std::to_string(s.counts.total) + " cmd=" +
         std::string(CommandKindName(command.kind));
}

void LinkUp(Session& s) {
  s.connected = true;
  TraceLine(s.trace, "link state=up");
}

// The tool closed the terminal: whatever we still had to say is lost, as on a real line.
// Called on every look that finds the terminal closed, so that a reply to a command the tool
// sent just before closing is dropped too.
void LinkDown(Session& s) {
  s.scheduled.clear();
  s.unwritten.clear();
  DropUnreadOutput(s.pty);
  s.receiver.Reset();
  if (s.connected) TraceLine(s.trace, "link state=down");
  s.connected = false;
}

void TraceReceived(Session& s, const Command& command) {
  std::string line = "rx " + CommandFields(s, command) + " code=" + Hex8(command.payload[0]) +
                     " len=" + std::to_string(command.payload.size());
  if (command.kind == CommandKind::Final)
    line += " image=" + Hex32(command.imageLength);
  else if (command.payload.size() >= 8)
    line += " words=" + std::to_string(command.words) + " addr=" + Hex32(command.address);
  TraceLine(s.trace, line);
}

void Schedule(Session& s, const std::vector<OutgoingByte>& wire, SimClock::time_point ready) {
  for (const auto& out : wire) s.scheduled.push_back({out.byte, ready + out.after});
}

void Answer(Session& s, const Command& command, FaultSet faults, SimClock::time_point arrived) {
  Reply reply = Execute(s.device, command);
  if (!reply.payload) {
    TraceLine(s.trace, "silent " + CommandFields(s, command) + " reason=no-answer-due");
    return;
  }
  if (faults.Has(FaultKind::NoReply)) {
    TraceLine(s.trace, "silent " + CommandFields(s, command) + " reason=fault fault=no-reply");
    return;
  }
  FaultSet applied = DistortPayload(faults, command, *reply.payload);
  for (auto kind : {FaultKind::BadChecksum, FaultKind::StraySync, FaultKind::Garbage,
                    FaultKind::Late, FaultKind::Dribble, FaultKind::CutOff})
    if (faults.Has(kind)) applied.Add(kind);
  auto wire = ShapeOnWire(faults, *reply.payload, s.options);
  Schedule(s, wire, arrived);
  if (faults.Has(FaultKind::CutOff)) s.hangUpOnceSent = true;
  std::string line = "tx " + CommandFields(s, command) + " code=" + Hex8(reply.payload->at(0)) +
                     " len=" + std::to_string(reply.payload->size()) +
                     " wire=" + std::to_string(wire.size());
  if (!applied.Empty()) line += " fault=" + FaultNames(applied);
  if (!reply.refused.empty()) line += " refused=" + reply.refused;
  TraceLine(s.trace, line);
}

CommandKind OnCommand(Session& s, std::span<const std::uint8_t> payload, SimClock::time_point arrived) {
  Command command = ParseCommand(payload);
  s.counts.total++;
  s.counts.ofKind[static_cast<std::size_t>(command.kind)]++;
  TraceReceived(s, command);
  FaultSet faults = FaultsFor(s.options.faults, s.counts, command.kind);
  if (faults.Has(FaultKind::HangUp)) {
    TraceLine(s.trace, "hangup " + CommandFields(s, command) + " fault=hang-up");
    s.hungUp = true;
    return command.kind;
  }
  if (command.kind == CommandKind::Query && s.queriesSeen++ < s.options.answerAfter) {
    TraceLine(s.trace, "silent " + CommandFields(s, command) + " reason=answer-after");
    return command.kind;
  }
  Answer(s, command, faults, arrived);
  return command.kind;
}

void OnFrameEnd(Session& s, FrameStatus status, SimClock::time_point arrived) {
  const char* reason = nullptr;
  switch (status) {
    case FrameStatus::Complete:
      if (!BootloaderListening(s)) {
        reason = BoardStateName(s.board.state);
        break;
      }
      CommandHeard(s, OnCommand(s, s.receiver.payload(), arrived) == CommandKind::Close);
      return;
    case FrameStatus::BadChecksum: reason = "bad-checksum"; break;
    case FrameStatus::Empty: reason = "empty"; break;
    case FrameStatus::Overflow: reason = "overflow"; break;
    case FrameStatus::Incomplete: return;
  }
  TraceLine(s.trace, std::string("ignored reason=") + reason +
                         " len=" + std::to_string(s.receiver.storedCount()));
}

void ReadInput(Session& s) {
  std::uint8_t buffer[4096];
  while (!s.hungUp) {
    ssize_t count = read(s.pty.master, buffer, sizeof buffer);
    if (count <= 0) return;  // drained (EAGAIN), or nobody has the terminal open (EIO)
    s.bytesIn += static_cast<unsigned long long>(count);
    auto readAt = SimClock::now();
    for (ssize_t i = 0; i < count && !s.hungUp; ++i) {
      auto arrived = s.line.Arrive(readAt);
      FrameStatus status = s.receiver.Feed(buffer[i]);
      if (status != FrameStatus::Incomplete) OnFrameEnd(s, status, arrived);
    }
  }
}

void WriteUnwritten(Session& s) {
  if (s.unwritten.empty()) return;
  ssize_t count = write(s.pty.master, s.unwritten.data(), s.unwritten.size());
  if (count < 0) {
    if (errno == EIO) LinkDown(s);
    return;
  }
  s.bytesOut += static_cast<unsigned long long>(count);
  s.unwritten.erase(s.unwritten.begin(), s.unwritten.begin() + count);
}

// Hands the pty every scheduled byte whose time has come.
void SendDue(Session& s) {
  auto now = SimClock::now();
  while (!s.scheduled.empty()) {
    auto at = s.line.NextDeparture(s.scheduled.front().notBefore);
    if (s.line.HandOver(at) > now) break;
    s.line.Departed(at);
    s.unwritten.push_back(s.scheduled.front().byte);
    s.scheduled.pop_front();
  }
  WriteUnwritten(s);
}

SimClock::time_point NextWake(const Session& s) {
  if (!s.connected) return SimClock::now();
  auto wake = std::min(s.deadline, BoardWake(s));
  if (s.scheduled.empty() || !s.unwritten.empty()) return wake;
  return std::min(wake, s.line.HandOver(s.line.NextDeparture(s.scheduled.front().notBefore)));
}

void ReadControl(Session& s) {
  for (const std::string& line : ReadControlLines(s.control)) TakeControlLine(s, line);
}

void Pause(std::chrono::nanoseconds length) {
  auto ns = length.count();
  timespec pause{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
  ppoll(nullptr, 0, &pause, &waitMask);
}

}  // namespace

void InstallStopSignals() {
  sigset_t stops;
  sigemptyset(&stops);
  struct sigaction action{};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    sigaction(signal, &action, nullptr);
    sigaddset(&stops, signal);
  }
  sigprocmask(SIG_BLOCK, &stops, &waitMask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigdelset(&waitMask, signal);
}

EndReason Serve(Session& s) {
  for (;;) {
    if (stopSignal) return EndReason::Signal;
    if (s.hungUp) return EndReason::HangUp;
    if (SimClock::now() >= s.deadline) return EndReason::Timeout;
    BootloaderListening(s);  // a window that has passed closes on time
    SendDue(s);
    if (s.hangUpOnceSent && s.scheduled.empty() && s.unwritten.empty()) {
      Pause(kCutOffPause);  // the tool may read the half frame before the line goes dead
      TraceLine(s.trace, "hangup fault=cut-off");
      return EndReason::HangUp;
    }
    pollfd fds[2] = {
        {s.pty.master, static_cast<short>(POLLIN | (s.unwritten.empty() ? 0 : POLLOUT)), 0},
        {s.control.fd, POLLIN, 0}};
    pollfd& port = fds[0];
    timespec wait = Until(NextWake(s));
    if (ppoll(fds, 2, &wait, &waitMask) < 0) continue;  // a signal: looked at above
    if (fds[1].revents & POLLIN) ReadControl(s);
    bool closed = port.revents & (POLLHUP | POLLERR);
    if (!closed && !s.connected) LinkUp(s);
    if (port.revents & POLLIN) ReadInput(s);
    if (closed) {
      LinkDown(s);
      if (!(port.revents & POLLIN)) Pause(kClosedPause);
    }
  }
}
