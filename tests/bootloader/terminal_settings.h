// Pseudo-terminals, and the terminal settings and exclusive mode of the tests that check a port
// is put back exactly as it was found (its Win32 state: port_state.h).
#pragma once

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "port_state.h"

using Bytes = std::vector<uint8_t>;

// A pseudo-terminal pair, raw unless asked for the settings a terminal starts with. The test
// writes and reads the far end (the master, non-blocking); the code under test opens the near end
// by its path. `slave` is the fixture's own descriptor of the near end, with no lock, to look at
// its input queue and its termios.
struct PtyPair {
  int master = -1, slave = -1;
  std::string slavePath;

  explicit PtyPair(bool raw = true) {
    termios mode{};
    cfmakeraw(&mode);
    cfsetspeed(&mode, B9600);
    char name[256];
    if (openpty(&master, &slave, name, raw ? &mode : nullptr, nullptr) != 0)
      ADD_FAILURE() << "openpty failed";
    slavePath = name;
    fcntl(master, F_SETFL, O_NONBLOCK);
  }
  ~PtyPair() {
    HangUp();
    close(slave);
  }

  // The tests send less than the pty buffers hold, so one write takes it all.
  void Send(const Bytes& bytes) const {
    EXPECT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // What the near end has written, collected until the line stays quiet for quietMs.
  Bytes Received(int quietMs = 200) const {
    Bytes bytes;
    uint8_t chunk[4096];
    pollfd entry{master, POLLIN, 0};
    for (ssize_t count; poll(&entry, 1, quietMs) > 0 && (count = read(master, chunk, 4096)) > 0;)
      bytes.insert(bytes.end(), chunk, chunk + count);
    return bytes;
  }
  // Bytes written by the far end and not yet read by the near end.
  int Waiting() const {
    int count = 0;
    return ioctl(slave, FIONREAD, &count) == 0 ? count : -1;
  }
  void HangUp() {
    close(master);
    master = -1;
  }
};

// The settings a terminal has before any program changed them (echo, canonical input), at 9600.
inline termios NormalMode() {
  PtyPair pair(false);
  termios normal{};
  tcgetattr(pair.slave, &normal);
  cfsetspeed(&normal, B9600);
  return normal;
}

// Every field a program can set, the line speeds included.
inline auto TermiosFields(const termios& t) {
  return std::make_tuple(t.c_iflag, t.c_oflag, t.c_cflag, t.c_lflag, t.c_line,
                         std::vector<int>(t.c_cc, t.c_cc + NCCS), cfgetispeed(&t), cfgetospeed(&t));
}

// The settings of the terminal at path, through a descriptor of the test's own, after putting
// change into effect when one is given (as a user's `stty` would).
inline termios TerminalSettingsAt(const std::string& path, const termios* change = nullptr) {
  termios now{};
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  EXPECT_GE(fd, 0) << path;
  if (change != nullptr) {
    EXPECT_EQ(tcsetattr(fd, TCSANOW, change), 0) << path;
  }
  tcgetattr(fd, &now);
  close(fd);
  return now;
}

// Whether the terminal at path is in exclusive mode; one that cannot be opened at all counts.
inline bool ExclusiveMode(const std::string& path) {
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK), exclusive = 1;
  ioctl(fd, TIOCGEXCL, &exclusive);
  close(fd);
  return exclusive != 0;
}
