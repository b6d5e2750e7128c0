// One command on one port (or "probe all") in this process, through the core's worker threads.
#pragma once

#include "cli/command_line.h"

// Runs program, verify, read or info and returns the exit status: 0 when the command did what it
// says, 1 otherwise.
int RunHere(const Request& request);
