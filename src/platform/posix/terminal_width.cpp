// The terminal's width on POSIX, as the terminal (or the emulator behind a pty) reports it.
#include "../terminal_width.h"

#include <sys/ioctl.h>
#include <unistd.h>

int ErrorColumns() {
  winsize size = {};
  return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}
