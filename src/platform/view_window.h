// A window that stands for the view where there is no desktop window: the console front end and
// the tests. SendMessageW to it calls its procedure and returns when the procedure has.
#pragma once

#include "platform/win32.h"

// A window whose messages from WM_USER on go to procedure; null on failure.
HWND CreateViewWindow(WNDPROC procedure);

void DestroyViewWindow(HWND window);

// Waits until the thread has ended, handling the messages it sends to view windows meanwhile
// (on Windows a sent message is handled by the window's own thread, so that thread must serve).
void WaitForThreadServingViews(HANDLE thread);
