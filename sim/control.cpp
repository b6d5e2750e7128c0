// The control FIFO.
#include "control.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool OpenControl(Control& control, const std::string& path, std::string& error) {
  struct stat existing{};
  if (lstat(path.c_str(), &existing) == 0 && S_ISFIFO(existing.st_mode)) unlink(path.c_str());
  if (mkfifo(path.c_str(), 0600) != 0) {
    error = "cannot make the control FIFO " + path + ": " + std::strerror(errno);
    return false;
  }
  control.path = path;
  control.fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  control.writer = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (control.fd < 0 || control.writer < 0) {
    error = "cannot open the control FIFO " + path + ": " + std::strerror(errno);
    CloseControl(control);
    return false;
  }
  return true;
}

void CloseControl(Control& control) {
  for (int* fd : {&control.fd, &control.writer}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  if (!control.path.empty()) unlink(control.path.c_str());
  control.path.clear();
}

std::vector<std::string> ReadControlLines(Control& control) {
  char buffer[512];
  for (ssize_t count; (count = read(control.fd, buffer, sizeof buffer)) > 0;)
    control.pending.append(buffer, static_cast<size_t>(count));
  std::vector<std::string> lines;
  for (size_t end; (end = control.pending.find('\n')) != std::string::npos;) {
    lines.push_back(control.pending.substr(0, end));
    control.pending.erase(0, end + 1);
  }
  return lines;
}
