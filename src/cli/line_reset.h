// --reset: pentrel-cli resets the device into its bootloader through the DTR or RTS line of its
// port, where the desktop program asks a person to press the reset button.
#pragma once

#include "cli/command_line.h"

// Installs detection's reset hook when the request asks for --reset; leaves it alone otherwise.
void InstallLineReset(const Request& request);
