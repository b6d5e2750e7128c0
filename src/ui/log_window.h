// The log window: the program's one top-level window and the view of the message log. It shows
// 14 rows of the log and the progress row in the system's fixed-pitch font, scrolls each new line
// in, opens the setup dialog on WM_SHOW_SETUP and the About box on its accelerators.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// Height of one row and the strip kept clear of scrolling at the bottom, measured at WM_CREATE.
extern int32_t LineHeight;
extern int32_t BottomMargin;

LRESULT CALLBACK LogWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Registers the window class of the log window under className, with icon 134.
void RegisterLogWindowClass(HINSTANCE instance, const wchar_t* className);

// Creates the log window (576 x 265 pixels, placed by the system); null on failure.
HWND CreateLogWindow(HINSTANCE instance, const wchar_t* className, const wchar_t* title);
