// Station mode with --reset: the station tells a board from the next one. After a board's run it
// waits until that board stops answering (it was taken out), then until a board answers, looking
// at a calm pace: each look resets the device and queries it briefly, in a child process of its
// own, and only a change of what it sees is shown.
#pragma once

#include <string>

#include "cli/command_line.h"

// Returns once a board that has not been run answers on the port; boardInPlace says that the
// last run found one. False when Ctrl-C or SIGTERM came while waiting.
bool AwaitNextBoard(const Request& request, const std::string& port, const std::string& prefix,
                    bool boardInPlace);
