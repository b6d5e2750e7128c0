// Process-wide state of the desktop program that start-up sets up and the log window and the
// setup dialog share. All of it is used on the user-interface thread only.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// The module that holds the dialogs and the accelerators.
extern HINSTANCE Instance;

// 1 unless the command line held "-L": the log window is hidden while the setup dialog is open,
// so the user sees either the dialog or the log, at the same place.
extern int32_t HideLogWindow;

// Bold 9-point Tahoma for the setup dialog's Last Status line; deleted at exit.
extern HFONT StatusFont;

// The last programming run started, or INVALID_HANDLE_VALUE; closed when the dialog next opens.
extern HANDLE WorkerThreadHandle;
