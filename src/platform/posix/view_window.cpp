// View windows on POSIX: registered procedures, called on the sending thread.
#include "../view_window.h"

HWND CreateViewWindow(WNDPROC procedure) { return RegisterWindowProcedure(procedure); }

void DestroyViewWindow(HWND window) { UnregisterWindowProcedure(window); }

void WaitForThreadServingViews(HANDLE thread) { WaitForSingleObject(thread, INFINITE); }
