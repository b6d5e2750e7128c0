// Millisecond deadlines, for the waits of the Win32 subset: on the monotonic clock, except where
// a POSIX call measures against another (pthread_mutex_timedlock: CLOCK_REALTIME).
#pragma once

#include <cstdint>
#include <ctime>

// The absolute time, on the given clock, that lies the given milliseconds from now.
timespec DeadlineAfter(uint32_t milliseconds, clockid_t clock = CLOCK_MONOTONIC);

// Milliseconds left until the deadline, 0 once it has passed.
uint32_t MillisecondsUntil(const timespec& deadline);
