// The board behind the adapter, for a device that must be reset into its bootloader: whether a
// board is in place, whether its bootloader listens or its application runs, and the modem lines
// the tool drives, which reach the board's reset through a capacitor (asserting gives a pulse)
// or a transistor (the asserted line holds the board in reset).
#pragma once

#include <string_view>

#include "pacing.h"

enum class BoardState { Bootloader, Application, Held, Absent };

struct Board {
  BoardState state = BoardState::Bootloader;
  unsigned long number = 1;  // boards put in so far, the first included
  bool dtr = false;
  bool rts = false;
  unsigned long resets = 0;  // resets so far, missed ones included
  SimClock::time_point windowEnds = SimClock::time_point::max();
};

struct Session;

// The board at power-up: without --needs-reset its bootloader always listens.
void StartBoard(Session& s);

// One line from the control input: "dtr 1", "rts 0", "remove" or "insert".
void TakeControlLine(Session& s, std::string_view line);

// Whether the bootloader hears commands now; its window closes here when its time has passed.
bool BootloaderListening(Session& s);

// The bootloader heard a command: its window starts again, and a close hands over to the
// application.
void CommandHeard(Session& s, bool close);

const char* BoardStateName(BoardState state);

// When the bootloader's window closes, if it is open.
SimClock::time_point BoardWake(const Session& s);
