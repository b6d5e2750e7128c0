// The two remembered settings and the closing flag, shared by the setup dialog, the programming
// run and the console front end. They are handed over between threads without a lock: no run is
// in progress while the setup dialog (or the console) changes them.
#pragma once

#include <atomic>
#include <cstdint>

#include "log/format.h"

// Path of the Intel HEX file; empty by default.
extern char16_t HexFileName[kPathCapacity];

// Port name such as COM3, or "probe all" (the default) to search every port.
extern char16_t ComName[kPathCapacity];

extern const char16_t kProbeAll[];

// Raised when the program is closing; a run polls it and ends its thread at once. Never cleared.
extern std::atomic<int32_t> AbortRequested;

// Reads also end when the line goes quiet after a reply's first bytes; pentrel.exe never sets it.
extern bool FastReplies;

// Both settings at their defaults.
void ResetSettings();
