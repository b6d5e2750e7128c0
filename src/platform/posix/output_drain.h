// Waiting until written bytes have left the port, as a Windows serial write does before it
// completes.
#pragma once

#include <termios.h>

#include <ctime>

#include "win32_subset.h"

// Waits until the kernel's output queue is empty and the wire time of the bytes, at the line's
// speed and character frame, has passed since the write began (a pseudo-terminal reports its
// queue empty at once; what stands at its far end takes the bytes at line rate). With a
// deadline, stops there: the bytes still queued are dropped, as a timed-out Windows write sends
// no more of them, and their count is returned. Returns 0 when everything left.
DWORD DrainOutput(int fd, DWORD bytes, const timespec& began, const timespec* deadline);

// The baud rate of a termios speed code, 0 for one without a rate (B0).
DWORD BaudOfSpeed(speed_t code);
