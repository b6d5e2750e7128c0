// Opening a port: the bootloader's line settings, the saved copies that put the port back exactly
// (reserved bits included), exclusive use, the failures with their messages; telling whether a
// port is free (the usual signs of another program holding it count as in use), empty queues at
// the open, and a write that returns once its bytes have left. (A terminal in normal mode put
// back exactly: the programming runs of tests/bootloader/run_test.cpp.)
#include <sys/file.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <span>
#include <tuple>

#include "serial/port.h"
#include "serial/port_list.h"
#include "settings/settings.h"
#include "serial_fixture.h"

namespace {

uint32_t FlagWord(const DCB& dcb) {
  uint32_t word;
  memcpy(&word, reinterpret_cast<const char*>(&dcb) + 8, sizeof word);
  return word;
}

const COMMTIMEOUTS kBootloaderTimeouts{0, 1, 60, 1, 10};

using OpenPortTest = SerialTest;

TEST_F(OpenPortTest, applies_the_bootloader_line_settings_and_RestorePort_puts_back_the_old) {
  // The port as some other program might have left it: every flag the opposite of the
  // bootloader's, and the reserved bits and the fields it leaves alone set.
  DCB before;
  memset(&before, 0x5A, sizeof before);
  uint32_t flags = 0x1ABCDu << 15 | (~0x1091u & 0x7FFF);
  memcpy(reinterpret_cast<char*>(&before) + 8, &flags, sizeof flags);
  before.BaudRate = 9600, before.ByteSize = 7, before.Parity = EVENPARITY;
  before.StopBits = TWOSTOPBITS;
  COMMTIMEOUTS beforeTimeouts{5, 6, 7, 8, 9};
  PortState(u"COM5", &beforeTimeouts, &before);

  DCB saved, now;
  COMMTIMEOUTS savedTimeouts, nowTimeouts;
  HANDLE port = OpenPort(u"COM5", &saved, &savedTimeouts);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(SameBytes(std::pair{saved, savedTimeouts}, std::pair{before, beforeTimeouts}));
  ASSERT_TRUE(GetCommState(port, &now) && GetCommTimeouts(port, &nowTimeouts));
  EXPECT_EQ(FlagWord(now) & 0x7FFF, 0x1091u);
  EXPECT_EQ(FlagWord(now) >> 15, FlagWord(before) >> 15);
  EXPECT_EQ(std::make_tuple(now.BaudRate, now.ByteSize, now.Parity, now.StopBits, now.XonChar,
                            now.XoffChar),
            std::make_tuple(57600u, 8, NOPARITY, ONESTOPBIT, 0x11, 0x13));
  // What the table does not name stays as read.
  EXPECT_EQ(std::make_tuple(now.XonLim, now.XoffLim, now.wReserved1, now.EvtChar),
            std::make_tuple(before.XonLim, before.XoffLim, before.wReserved1, before.EvtChar));
  EXPECT_TRUE(SameBytes(nowTimeouts, kBootloaderTimeouts));

  // The tty itself runs at 57600 without hardware flow. (Raw mode, every byte value passing both
  // ways and the queues emptied at the open are proven by the programming runs:
  // tests/bootloader/run_test.cpp and abort_test.cpp.)
  termios t;
  EXPECT_TRUE(tcgetattr(line.slave, &t) == 0 && cfgetospeed(&t) == B57600 &&
              (t.c_cflag & CRTSCTS) == 0);

  RestorePort(port, &saved, &savedTimeouts);
  EXPECT_TRUE(SameBytes(PortState(u"COM5"), std::pair{before, beforeTimeouts}));
  EXPECT_TRUE(log.Lines().empty());
}

// Without the release of the exclusive mode, an unprivileged user finds a pseudo-terminal locked
// after the first run, and "probe all" fails between its availability test and the real open.
// Other programs' usual signs of holding a port count as in use too.
TEST_F(OpenPortTest, a_port_in_use_is_refused_here_and_elsewhere_until_given_back) {
  auto expectInUse = [&](bool inUse, const std::string& what) {
    EXPECT_EQ(TestPortOpen(u"COM5"), inUse ? 1 : 0) << what;
    HANDLE port = OpenPort(u"COM5", nullptr, nullptr);
    EXPECT_EQ(port != INVALID_HANDLE_VALUE, !inUse) << what;
    if (port != INVALID_HANDLE_VALUE) RestorePort(port, nullptr, nullptr);
  };
  FastReplies = true;
  HANDLE port = OpenPort(u"COM5", nullptr, nullptr);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(ExclusiveMode(line.slavePath));
  expectInUse(true, "open here");
  // Without saved copies RestorePort only closes: the port is given back with the line settings.
  // The fast reply mode adds the interval time-out and nothing else: reads that get nothing
  // keep their 100 ms, so every count of empty reads means what it did.
  RestorePort(port, nullptr, nullptr);
  EXPECT_FALSE(ExclusiveMode(line.slavePath));
  auto [state, timeouts] = PortState(u"COM5");
  COMMTIMEOUTS fast = kBootloaderTimeouts;
  fast.ReadIntervalTimeout = kFastReplyInterval;
  EXPECT_TRUE(state.BaudRate == 57600 && SameBytes(timeouts, fast));
  ResetSettings();
  EXPECT_FALSE(FastReplies);

  int other = open(line.slavePath.c_str(), O_RDWR | O_NOCTTY);
  flock(other, LOCK_EX);
  expectInUse(true, "an flock from another descriptor");
  close(other);
  ioctl(line.slave, TIOCEXCL);
  expectInUse(true, "the tty's exclusive mode set by another descriptor");
  ioctl(line.slave, TIOCNXCL);

  // UUCP lock files: the pid in ASCII padded to ten characters (the usual form), in four ASCII
  // bytes, or binary in four bytes; a lock left by a process that ended does not count.
  std::string name = line.slavePath.substr(5);  // the path below /dev, '/' as '_'
  std::replace(name.begin(), name.end(), '/', '_');
  std::string lockFile = "/run/lock/LCK.." + name;
  pid_t ended = fork(), self = getpid();
  if (ended == 0) _exit(0);
  waitpid(ended, nullptr, 0);
  auto padded = [](pid_t pid) {
    std::string digits = std::to_string(pid);
    return std::string(10 - digits.size(), ' ') + digits + '\n';
  };
  std::pair<std::string, bool> locks[] = {
      {padded(self), true}, {"  1\n", true},
      {std::string(reinterpret_cast<const char*>(&self), 4), true}, {padded(ended), false}};
  bool canLock = access("/run/lock", W_OK) == 0;
  for (const auto& [contents, inUse] : std::span(locks, canLock ? std::size(locks) : 0)) {
    std::ofstream(lockFile) << contents;
    expectInUse(inUse, testing::PrintToString(contents));
    remove(lockFile.c_str());
  }
  EXPECT_EQ(TestPortOpen(u"COM5"), 0);
  EXPECT_EQ(log.Lines(), Lines(canLock ? 6 : 3, u"Unable to open COM5 (5)"));
}

// (A missing port's message: the programming runs' bad ports, tests/bootloader/run_test.cpp.)
TEST_F(OpenPortTest, reports_a_device_that_is_no_serial_port_and_gives_it_back) {
  Link("COM6", "/dev/null");
  DCB saved{};
  saved.BaudRate = 1234;
  EXPECT_EQ(OpenPort(u"COM6", &saved, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(saved.BaudRate, 1234u);     // nothing copied before the state was read
  EXPECT_EQ(TestPortOpen(u"COM6"), 0);  // and the handle was given back
  EXPECT_EQ(log.Lines(), Lines{u"Unable to get COM6 configuration (22)"});
}

// At 300 baud 1040 bytes of 10 bits would take 35 s on the line: the write time-out (1040 + 10
// ms) ends the wait. (That a write returns only once its bytes have left at 57600 baud is proven
// by the 1000 ms reply of tests/bootloader/run_test.cpp, counted from then on.)
TEST_F(OpenPortTest, WriteFile_waits_for_its_bytes_to_leave_no_longer_than_its_write_timeout) {
  HANDLE port = OpenPort(u"COM5", nullptr, nullptr);
  DCB state;
  ASSERT_TRUE(GetCommState(port, &state));
  state.BaudRate = 300;
  Bytes data(1040, 0x42);
  DWORD written = 0;
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(SetCommState(port, &state) && WriteFile(port, data.data(), 1040, &written, nullptr));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  RestorePort(port, nullptr, nullptr);
}

}  // namespace
