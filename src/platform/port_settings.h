// The settings each serial port had when this process opened it, kept so that Ctrl-C can put them
// back before the process ends, whatever the run was doing. The port opening reports each port
// here; on POSIX the platform already keeps that record where it opens a tty (with the terminal's
// own settings), so there these do nothing.
#pragma once

#include "win32.h"

// Notes a port that was just configured and the settings it had before.
void KeepFoundSettings(HANDLE port, const DCB& state, const COMMTIMEOUTS& timeouts);

// Called before the port is closed.
void DropFoundSettings(HANDLE port);

// Windows: puts every noted port back as it was found; from then on no port is noted or dropped
// (the process is ending). Called by the console's Ctrl-C handler, on a thread of its own.
void PutBackFoundSettings();
