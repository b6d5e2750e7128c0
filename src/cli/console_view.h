// The console view of the message log: log lines on stdout as they come, progress on stderr (a
// redrawn bar on a terminal, one line per text otherwise), and the Last Status as the last line.
#pragma once

#include "platform/win32.h"

LRESULT CALLBACK ConsoleViewProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
