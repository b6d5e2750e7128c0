// The kernel console and this process's own terminals, for leaving them out of the port list.
#include "own_terminals.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "system_root.h"

namespace {

bool IsConsole(const char* tty) {
  char value[512];
  if (ReadSystemLine(value, sizeof value, "/sys/class/tty/%s/console", tty) && value[0] == 'Y') {
    return true;
  }
  ReadSystemLine(value, sizeof value, "/sys/class/tty/console/active");
  char* rest = nullptr;
  for (char* name = strtok_r(value, " ", &rest); name != nullptr;
       name = strtok_r(nullptr, " ", &rest)) {
    if (strcmp(name, tty) == 0) return true;
  }
  return false;
}

// The controlling terminal as a device number; 0 for none. The kernel packs tty_nr as
// minor bits 0-7 and 20-31, major bits 8-19.
dev_t ControllingTerminal() {
  long parent;
  unsigned terminal = 0;
  if (!ReadProcessStat(getpid(), &parent, &terminal) || terminal == 0) return 0;
  return makedev((terminal >> 8) & 0xFFF, (terminal & 0xFF) | ((terminal >> 12) & 0xFFF00));
}

bool IsOwnTerminal(dev_t device) {
  for (int fd = 0; fd <= 2; fd++) {
    struct stat status;
    if (isatty(fd) && fstat(fd, &status) == 0 && status.st_rdev == device) return true;
  }
  return device == ControllingTerminal();
}

}  // namespace

bool IsConsoleOrOwnTerminal(const char* path) {
  char real[PATH_MAX];
  if (realpath(path, real) == nullptr) snprintf(real, sizeof real, "%s", path);
  struct stat status;
  if (stat(real, &status) == 0 && S_ISCHR(status.st_mode) && IsOwnTerminal(status.st_rdev)) {
    return true;
  }
  return strncmp(real, "/dev/", 5) == 0 && IsConsole(strrchr(real, '/') + 1);
}
