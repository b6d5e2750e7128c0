// Terminal settings for the tests that check a port is put back exactly as it was found.
#pragma once

#include <gtest/gtest.h>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <string>

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

inline void ExpectSameTermios(const termios& a, const termios& b, const std::string& what) {
  EXPECT_EQ(a.c_iflag, b.c_iflag) << what;
  EXPECT_EQ(a.c_oflag, b.c_oflag) << what;
  EXPECT_EQ(a.c_cflag, b.c_cflag) << what;
  EXPECT_EQ(a.c_lflag, b.c_lflag) << what;
  EXPECT_EQ(a.c_line, b.c_line) << what;
  EXPECT_EQ(0, memcmp(a.c_cc, b.c_cc, sizeof a.c_cc)) << what;
  EXPECT_EQ(cfgetispeed(&a), cfgetispeed(&b)) << what;
  EXPECT_EQ(cfgetospeed(&a), cfgetospeed(&b)) << what;
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
