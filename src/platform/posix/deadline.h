// Millisecond deadlines on the monotonic clock, for the waits of the Win32 subset.
#pragma once

#include <cstdint>
#include <ctime>

// The absolute time, on CLOCK_MONOTONIC, that lies the given milliseconds from now.
timespec DeadlineAfter(uint32_t milliseconds);

// Milliseconds left until the deadline, 0 once it has passed.
uint32_t MillisecondsUntil(const timespec& deadline);
