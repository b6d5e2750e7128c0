// Terminal settings for the tests that check a port is put back exactly as it was found.
#pragma once

#include <gtest/gtest.h>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <tuple>
#include <vector>

// The settings a terminal has before any program changed them (echo, canonical input), at 9600.
inline termios NormalMode() {
  int master, slave;
  termios normal{};
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) == 0) {
    tcgetattr(slave, &normal);
    close(master);
    close(slave);
  }
  cfsetspeed(&normal, B9600);
  return normal;
}

// Every field a program can set, the line speeds included.
inline auto TermiosFields(const termios& t) {
  return std::make_tuple(t.c_iflag, t.c_oflag, t.c_cflag, t.c_lflag, t.c_line,
                         std::vector<int>(t.c_cc, t.c_cc + NCCS), cfgetispeed(&t), cfgetospeed(&t));
}

inline void ExpectSameTermios(const termios& a, const termios& b, const std::string& what) {
  EXPECT_EQ(TermiosFields(a), TermiosFields(b)) << what;
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
