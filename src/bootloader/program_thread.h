// One programming run from start to finish, on a worker thread: load the HEX file, find the
// device, write and verify every chunk, finalize, report, restore the port, then ask the view
// to reopen the setup dialog (WM_SHOW_SETUP, sent synchronously, so the thread waits for it).
#pragma once

#include <cstdint>

#include "platform/win32.h"

DWORD WINAPI ProgramThread(LPVOID unused);

// Bytes written, read back and announced: the stored data rounded up past its end to a multiple
// of 4 (always 1 to 4 bytes more than the data).
uint32_t ImageLength();
