// The ports command: one line per usable COM port, in the order the setup dialog lists them,
// NAME<TAB>DEVICE<TAB>DESCRIPTION (or one JSON object per port).
#pragma once

#include "cli/command_line.h"

// Returns 0 when at least one port is usable, 1 (after "No available COM ports detected") when
// none is.
int ListPorts(const Request& request);
