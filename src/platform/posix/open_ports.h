// The serial devices open in this process, with the terminal settings each had when it was
// opened, so that a process ended by a signal can put them back first.
#pragma once

#include <termios.h>

// Notes an open tty and its settings as found. A process with more ttys open at once than the
// record holds does not put back the extra ones on a signal.
void RememberOpenPort(int fd, const termios& found);

// Called before the descriptor is closed.
void ForgetOpenPort(int fd);

// Puts every open tty back as it was found and releases its exclusive mode, after any settings
// change under way on another thread has been made; changes attempted from then on are refused.
// Safe in a signal handler.
void PutBackOpenPorts();

// Brackets a change of a tty's settings. BeginSettingsChange returns false, and the change must
// not be made, once PutBackOpenPorts has begun: the process is ending.
bool BeginSettingsChange();
void EndSettingsChange();
