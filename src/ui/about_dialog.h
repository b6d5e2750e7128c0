// The About box (dialog 103), opened from the log window's accelerators during a run.
#pragma once

#include "platform/win32.h"

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
