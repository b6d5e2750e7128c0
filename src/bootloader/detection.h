// Finding the device: send the query and wait for a valid reply, up to 300 times, on the port
// named by ComName or on every usable COM port at once, asking for the reset button after the
// first four silent attempts. The port that answers is handed over open and configured.
#pragma once

#include <cstdint>

#include "bootloader/commands.h"
#include "log/format.h"
#include "platform/win32.h"

constexpr int kDetectionAttempts = 300;
constexpr int kResetPromptAttempt = 4;

// Both return the device's open port and fill the flash size and the port's previous settings
// (either storage may be null), or INVALID_HANDLE_VALUE with every port they opened given back.
// Both end the calling thread at once when AbortRequested is raised.
HANDLE ProbeNamedPort(uint32_t* flashSize, DCB* savedState, COMMTIMEOUTS* savedTimeouts);
HANDLE ProbeAllPorts(uint32_t* flashSize, DCB* savedState, COMMTIMEOUTS* savedTimeouts);

// A front end that can reset the device itself (pentrel-cli's --reset) sets this; pentrel.exe
// leaves it null. ProbeNamedPort calls it with the open port before the first query (attempt 0)
// and, instead of asking for the reset button, at kResetPromptAttempt. When it returns false, the
// search ends there, without a further line, with the port given back and the Last Status it set.
extern bool (*DeviceResetHook)(HANDLE port, int attempt);

// What the last successful detection found: the port the device answered on and its query reply.
struct DetectedDeviceStore {
  bool found;  // cleared by whoever starts a new search
  char16_t port[kPathCapacity];
  QueryReply reply;
};
extern DetectedDeviceStore DetectedDevice;
