// The serving loop: reads command frames from the pty, answers them through the fault and pacing
// machinery, and keeps going while the tool closes and reopens the terminal.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "board.h"
#include "commands.h"
#include "control.h"
#include "faults.h"
#include "framing.h"
#include "options.h"
#include "pacing.h"
#include "pty.h"
#include "trace.h"

enum class EndReason { Signal, Timeout, HangUp };

struct QueuedByte {
  std::uint8_t byte;
  SimClock::time_point notBefore;
};

struct Session {
  const SimOptions& options;
  Pty& pty;
  Device& device;
  Trace& trace;
  Control& control;
  Board board{};
  SimClock::time_point deadline = SimClock::time_point::max();
  LineClock line{};
  FrameReceiver receiver{};
  CommandCounts counts{};
  unsigned long queriesSeen = 0;
  std::deque<QueuedByte> scheduled{};    // reply bytes waiting for their departure time
  std::vector<std::uint8_t> unwritten{};  // departed bytes the pty could not take yet
  bool connected = false;
  bool hungUp = false;
  bool hangUpOnceSent = false;  // the cut-off fault: close the pty when the reply has left
  unsigned long long bytesIn = 0;
  unsigned long long bytesOut = 0;
};

// Blocks SIGINT, SIGTERM and SIGHUP outside the loop's waits, where they end the serving.
void InstallStopSignals();

EndReason Serve(Session& session);
