// Exclusive use of a serial device. flock keeps our own processes apart, root included; TIOCEXCL
// keeps out other programs that open the tty without taking a lock, but does not stop root, so
// a root open asks the tty (TIOCGEXCL) whether someone else has set it. UUCP lock files are how
// older terminal programs announce a port in use. A program that simply has the tty open is found
// through /proc.
#include "port_claim.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "port_users.h"

namespace {

constexpr const char* kLockFolders[] = {"/var/lock", "/run/lock"};

// The name a UUCP lock file carries for the device: its path below /dev with '/' as '_'
// ("ttyUSB0", "pts_3"), or its last component for a device elsewhere.
bool LockName(const char* path, char* name, size_t capacity) {
  char real[PATH_MAX];
  if (realpath(path, real) == nullptr) return false;
  const char* below = strncmp(real, "/dev/", 5) == 0 ? real + 5 : strrchr(real, '/') + 1;
  if (snprintf(name, capacity, "%s", below) >= static_cast<int>(capacity)) return false;
  for (char* c = name; *c != '\0'; c++) {
    if (*c == '/') *c = '_';
  }
  return true;
}

// The pid in a lock file: ASCII (the usual form, padded with spaces) or a binary int (the old
// form, exactly four bytes). 0 when the file holds neither.
long LockOwner(const char* file) {
  int fd = open(file, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return 0;
  char text[32] = {};
  ssize_t size = read(fd, text, sizeof text - 1);
  close(fd);
  if (size <= 0) return 0;
  bool ascii = true;
  for (ssize_t i = 0; i < size; i++) {
    ascii = ascii && ((text[i] >= '0' && text[i] <= '9') || text[i] == ' ' || text[i] == '\n');
  }
  if (ascii) return strtol(text, nullptr, 10);
  int binary = 0;
  if (size == sizeof binary) memcpy(&binary, text, sizeof binary);
  return binary;
}

bool IsAlive(long pid) {
  return pid > 0 && pid <= INT_MAX && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

// A lock file left by a process that has ended does not count.
bool HasLiveLockFile(const char* path) {
  char name[PATH_MAX];
  if (!LockName(path, name, sizeof name)) return false;
  for (const char* folder : kLockFolders) {
    char file[PATH_MAX + 32];
    snprintf(file, sizeof file, "%s/LCK..%s", folder, name);
    if (IsAlive(LockOwner(file))) return true;
  }
  return false;
}

// Whether another descriptor has put the tty in exclusive mode (root passes it when opening).
bool IsExclusiveElsewhere(int fd) {
  int exclusive = 0;
#ifdef TIOCGEXCL
  if (ioctl(fd, TIOCGEXCL, &exclusive) != 0) exclusive = 0;
#endif
  return exclusive != 0;
}

}  // namespace

int ClaimDevice(int fd, const char* path) {
  bool isTty = isatty(fd) != 0;
  // Another program that has the tty open is asked first, so that the one found is named.
  if (isTty && (IsOpenElsewhere(fd, path) || IsExclusiveElsewhere(fd) || HasLiveLockFile(path))) {
    return EBUSY;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return errno;
  if (isTty) ioctl(fd, TIOCEXCL);
  return 0;
}

void UnclaimDevice(int fd) {
  if (isatty(fd)) ioctl(fd, TIOCNXCL);
}
