// The pseudo-terminal and its symlink.
#include "pty.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

bool OpenPty(Pty& pty, std::string& error) {
  int master = -1, slave = -1;
  char name[256] = {};
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  termios settings{};
  tcgetattr(slave, &settings);
  cfmakeraw(&settings);
  tcsetattr(slave, TCSANOW, &settings);
  // Settings stay with the pty while the master is open; holding the slave ourselves would keep
  // stale replies queued for the next opener, so it is closed and only the tool opens it.
  close(slave);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  pty.master = master;
  pty.slavePath = name;
  return true;
}

void ClosePty(Pty& pty) {
  if (pty.master >= 0) close(pty.master);
  pty.master = -1;
}

void DropUnreadOutput(const Pty& pty) { tcflush(pty.master, TCOFLUSH); }

bool MakeLink(const Pty& pty, const std::string& linkPath, std::string& error) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (symlink(pty.slavePath.c_str(), linkPath.c_str()) == 0) return true;
    struct stat existing{};
    if (errno != EEXIST || lstat(linkPath.c_str(), &existing) != 0 || !S_ISLNK(existing.st_mode))
      break;
    unlink(linkPath.c_str());  // a stale link from an earlier run
  }
  error = "cannot link " + linkPath + " to " + pty.slavePath + ": " +
          (errno == EEXIST ? "it exists and is not a symlink" : std::strerror(errno));
  return false;
}

void RemoveLink(const Pty& pty, const std::string& linkPath) {
  char target[512];
  ssize_t length = readlink(linkPath.c_str(), target, sizeof target - 1);
  if (length < 0) return;
  target[length] = '\0';
  if (pty.slavePath == target) unlink(linkPath.c_str());
}
