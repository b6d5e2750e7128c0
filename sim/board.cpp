// The board's reset and power: what the modem lines and the control input do to it.
#include "board.h"

#include <cstdio>
#include <string>

#include "serve.h"

namespace {

bool NeedsReset(const Session& s) { return s.options.resetLine != ResetLine::None; }

SimClock::time_point WindowFromNow(const Session& s) {
  return SimClock::now() + std::chrono::duration_cast<SimClock::duration>(
                               std::chrono::duration<double>(s.options.bootloaderWindowSeconds));
}

// A board that changes state stops whatever it was saying and forgets half-received frames.
void Enter(Session& s, BoardState state, const char* reason) {
  Board& board = s.board;
  board.state = state;
  board.windowEnds = state == BoardState::Bootloader && NeedsReset(s)
                         ? WindowFromNow(s)
                         : SimClock::time_point::max();
  s.scheduled.clear();
  s.unwritten.clear();
  s.receiver.Reset();
  TraceLine(s.trace, "board n=" + std::to_string(board.number) + " state=" + BoardStateName(state) +
                         " reason=" + reason);
}

bool ResetLineAsserted(const Session& s) {
  return s.options.resetLine == ResetLine::Dtr ? s.board.dtr : s.board.rts;
}

// What a board runs when its power comes or a reset ends without its bootloader being asked for.
BoardState PoweredUpState(const Session& s) {
  if (!NeedsReset(s)) return BoardState::Bootloader;
  return s.options.resetHeld && ResetLineAsserted(s) ? BoardState::Held : BoardState::Application;
}

void Restart(Session& s) {
  if (s.board.resets++ < s.options.missResets)
    Enter(s, BoardState::Application, "missed-reset");
  else
    Enter(s, BoardState::Bootloader, "reset");
}

void SetLine(Session& s, ResetLine line, bool asserted) {
  bool& level = line == ResetLine::Dtr ? s.board.dtr : s.board.rts;
  bool changed = level != asserted;
  level = asserted;
  TraceLine(s.trace, "lines dtr=" + std::to_string(s.board.dtr) +
                         " rts=" + std::to_string(s.board.rts));
  if (!changed || line != s.options.resetLine || s.board.state == BoardState::Absent) return;
  if (!s.options.resetHeld) {
    if (asserted) Restart(s);
  } else if (asserted) {
    Enter(s, BoardState::Held, "reset");
  } else {
    Restart(s);
  }
}

void WriteRemovedFlash(const Session& s) {
  if (s.options.dumpPath.empty()) return;
  std::string path = s.options.dumpPath + "." + std::to_string(s.board.number);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file || !WriteFlash(file, s.device))
    std::fprintf(stderr, "melor-sim: cannot write the dump file %s\n", path.c_str());
}

void Remove(Session& s) {
  if (s.board.state == BoardState::Absent) return;
  WriteRemovedFlash(s);
  Enter(s, BoardState::Absent, "removed");
}

void Insert(Session& s) {
  Remove(s);
  s.board.number++;
  s.device = MakeDevice(s.options);
  Enter(s, PoweredUpState(s), "inserted");
}

}  // namespace

void StartBoard(Session& s) {
  if (NeedsReset(s)) Enter(s, PoweredUpState(s), "start");
}

void TakeControlLine(Session& s, std::string_view line) {
  if (line == "remove") {
    Remove(s);
  } else if (line == "insert") {
    Insert(s);
  } else if (line.size() == 5 && (line[4] == '0' || line[4] == '1') &&
             (line.starts_with("dtr ") || line.starts_with("rts "))) {
    SetLine(s, line[0] == 'd' ? ResetLine::Dtr : ResetLine::Rts, line[4] == '1');
  } else {
    std::fprintf(stderr, "melor-sim: control line not understood: '%.*s'\n",
                 static_cast<int>(line.size()), line.data());
  }
}

bool BootloaderListening(Session& s) {
  if (s.board.state == BoardState::Bootloader && SimClock::now() >= s.board.windowEnds)
    Enter(s, BoardState::Application, "window");
  return s.board.state == BoardState::Bootloader;
}

void CommandHeard(Session& s, bool close) {
  if (!NeedsReset(s)) return;
  if (close) {
    Enter(s, BoardState::Application, "close");
    return;
  }
  s.board.windowEnds = WindowFromNow(s);
}

SimClock::time_point BoardWake(const Session& s) { return s.board.windowEnds; }

const char* BoardStateName(BoardState state) {
  switch (state) {
    case BoardState::Bootloader: return "bootloader";
    case BoardState::Application: return "application";
    case BoardState::Held: return "held";
    case BoardState::Absent: return "absent";
  }
  return "";
}
