// The console's width on Windows: its visible window, not its (wider) screen buffer.
#include "../terminal_width.h"

#include <windows.h>

int ErrorColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}
