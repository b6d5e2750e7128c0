// The console's commands beyond the programming run, as worker threads over the run's steps:
// each starts as the run starts and ends as it ends, with WM_SHOW_SETUP sent to the view.
#pragma once

#include <cstdint>

#include "bootloader/run_steps.h"
#include "platform/win32.h"

// Loads the image, finds the device and compares its flash with the image; writes nothing.
DWORD WINAPI VerifyThread(LPVOID unused);

struct ReadRequest {
  uint32_t length;  // bytes from offset 0; 0 for the flash size the device reports
  // Called before the device is searched for; false (having logged why and set the Last Status)
  // when there is nowhere to keep what is read.
  bool (*open)();
  FlashSink sink;   // takes each chunk as it is read
  // Called once every chunk is through; false (having logged why and set the Last Status) when
  // what was read could not be kept.
  bool (*finish)(uint32_t length);
};

// Finds the device and reads its flash as the ReadRequest at request asks.
DWORD WINAPI ReadThread(LPVOID request);

// Finds the device and reports what it answered; sends nothing beyond the query.
DWORD WINAPI InfoThread(LPVOID unused);
