// Opening a port: the bootloader's line settings, the saved copies that put the port back exactly
// (reserved bits included), exclusive use, and the failures with their messages.
#include <sys/wait.h>

#include <cstring>
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

template <typename T>
bool SameBytes(const T& a, const T& b) { return memcmp(&a, &b, sizeof a) == 0; }

// The state and time-outs a newly opened handle finds on COM5.
void ReadBack(DCB& state, COMMTIMEOUTS& timeouts) {
  HANDLE port = OpenDevice(u"COM5");
  EXPECT_TRUE(GetCommState(port, &state) && GetCommTimeouts(port, &timeouts));
  CloseHandle(port);
}

using OpenPortTest = SerialTest;

TEST_F(OpenPortTest, applies_the_bootloader_line_settings_and_RestorePort_puts_back_the_old) {
  // The port as some other program might have left it, reserved bits and all.
  DCB before;
  COMMTIMEOUTS beforeTimeouts{5, 6, 7, 8, 9};
  HANDLE other = OpenDevice(u"COM5");
  ASSERT_TRUE(GetCommState(other, &before));
  before.BaudRate = 9600, before.ByteSize = 7, before.Parity = EVENPARITY;
  before.StopBits = TWOSTOPBITS, before.fOutX = 1, before.fInX = 1, before.fOutxDsrFlow = 1;
  before.fDtrControl = DTR_CONTROL_HANDSHAKE, before.fRtsControl = RTS_CONTROL_TOGGLE;
  before.fNull = 1, before.fAbortOnError = 1, before.fTXContinueOnXoff = 0, before.fParity = 1;
  before.fDummy2 = 0x1ABCD, before.wReserved = 0x1234, before.wReserved1 = 0x5678;
  before.XonLim = 100, before.XoffLim = 200, before.XonChar = 0x21, before.XoffChar = 0x23;
  before.ErrorChar = 0x3F, before.EofChar = 0x1A, before.EvtChar = 0x0A;
  ASSERT_TRUE(SetCommState(other, &before) && SetCommTimeouts(other, &beforeTimeouts));
  ASSERT_TRUE(CloseHandle(other));

  DCB saved, now;
  COMMTIMEOUTS savedTimeouts, nowTimeouts;
  HANDLE port = OpenPort(u"COM5", &saved, &savedTimeouts);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(SameBytes(saved, before));
  EXPECT_TRUE(SameBytes(savedTimeouts, beforeTimeouts));
  ASSERT_TRUE(GetCommState(port, &now) && GetCommTimeouts(port, &nowTimeouts));
  EXPECT_EQ(FlagWord(now) & 0x7FFF, 0x1091u);
  EXPECT_EQ(FlagWord(now) >> 15, FlagWord(before) >> 15);
  EXPECT_EQ(now.BaudRate, 57600u);
  EXPECT_EQ(std::make_tuple(now.ByteSize, now.Parity, now.StopBits, now.XonChar, now.XoffChar),
            std::make_tuple(8, NOPARITY, ONESTOPBIT, 0x11, 0x13));
  // What the table does not name stays as read.
  EXPECT_EQ(std::make_tuple(now.XonLim, now.XoffLim, now.wReserved1, now.EvtChar),
            std::make_tuple(before.XonLim, before.XoffLim, before.wReserved1, before.EvtChar));
  EXPECT_TRUE(SameBytes(nowTimeouts, COMMTIMEOUTS{0, 1, 60, 1, 10}));

  // The tty itself runs at 57600 and passes every byte value unchanged both ways.
  termios t;
  ASSERT_EQ(tcgetattr(line.slave, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));
  EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
  Bytes all(256), back(256);
  for (int i = 0; i < 256; i++) all[i] = static_cast<uint8_t>(i);
  DWORD count = 0;
  ASSERT_TRUE(WriteFile(port, all.data(), 256, &count, nullptr));
  EXPECT_EQ(line.Received(100), all);
  line.Send(all);
  ASSERT_TRUE(ReadFile(port, back.data(), 256, &count, nullptr));
  EXPECT_EQ(back, all);

  RestorePort(port, &saved, &savedTimeouts);
  ReadBack(now, nowTimeouts);
  EXPECT_TRUE(SameBytes(now, before));
  EXPECT_TRUE(SameBytes(nowTimeouts, beforeTimeouts));
  EXPECT_TRUE(log.Lines().empty());
}

// The fast reply mode adds the interval time-out and nothing else: reads that get nothing keep
// their 100 ms, so every count of empty reads means what it did.
TEST_F(OpenPortTest, the_fast_reply_mode_changes_only_the_interval_time_out) {
  for (bool fast : {true, false}) {
    FastReplies = fast;
    HANDLE port = OpenPort(u"COM5", nullptr, nullptr);
    COMMTIMEOUTS timeouts;
    ASSERT_TRUE(GetCommTimeouts(port, &timeouts));
    EXPECT_TRUE(SameBytes(timeouts, COMMTIMEOUTS{fast ? kFastReplyInterval : 0, 1, 60, 1, 10}));
    RestorePort(port, nullptr, nullptr);
  }
  FastReplies = true;
  ResetSettings();
  EXPECT_FALSE(FastReplies);
}

bool ExclusiveMode(int fd) {
  int exclusive = 0;
  ioctl(fd, TIOCGEXCL, &exclusive);
  return exclusive != 0;
}

// Without the release of the exclusive mode, an unprivileged user finds a pseudo-terminal locked
// after the first run, and "probe all" fails between its availability test and the real open.
TEST_F(OpenPortTest, a_port_in_use_fails_for_this_and_other_processes_until_given_back) {
  HANDLE port = OpenPort(u"COM5", nullptr, nullptr);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(ExclusiveMode(line.slave));
  EXPECT_EQ(OpenPort(u"COM5", nullptr, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(TestPortOpen(u"COM5"), 1);
  pid_t child = fork();
  if (child == 0) {
    HANDLE other = OpenDevice(u"COM5");
    _exit(other == INVALID_HANDLE_VALUE ? static_cast<int>(GetLastError()) : 0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(ERROR_ACCESS_DENIED));
  // Without saved copies RestorePort only closes: the port is given back with the line settings.
  RestorePort(port, nullptr, nullptr);
  EXPECT_FALSE(ExclusiveMode(line.slave));
  EXPECT_EQ(TestPortOpen(u"COM5"), 0);
  DCB state;
  COMMTIMEOUTS timeouts;
  ReadBack(state, timeouts);
  EXPECT_EQ(state.BaudRate, 57600u);
  EXPECT_TRUE(SameBytes(timeouts, COMMTIMEOUTS{0, 1, 60, 1, 10}));
  EXPECT_EQ(log.Lines(), Lines{u"Unable to open COM5 (5)"});
}

TEST_F(OpenPortTest, reports_a_missing_port_and_a_device_that_is_no_serial_port) {
  EXPECT_EQ(OpenPort(u"COM9", nullptr, nullptr), INVALID_HANDLE_VALUE);
  devices.Link("COM6", "/dev/null");
  DCB saved{};
  saved.BaudRate = 1234;
  EXPECT_EQ(OpenPort(u"COM6", &saved, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(saved.BaudRate, 1234u);     // nothing copied before the state was read
  EXPECT_EQ(TestPortOpen(u"COM6"), 0);  // and the handle was given back
  EXPECT_EQ(log.Lines(),
            (Lines{u"Unable to open COM9 (2)", u"Unable to get COM6 configuration (22)"}));
}

TEST(BuildPortPath, prefixes_the_device_namespace_and_cuts_to_259_characters) {
  char16_t path[kPathCapacity];
  BuildPortPath(path, u"COM3");
  EXPECT_EQ(std::u16string(path), u"\\\\.\\COM3");
  std::u16string longName(300, u'X');
  BuildPortPath(path, longName.c_str());
  EXPECT_EQ(std::u16string(path), u"\\\\.\\" + longName.substr(0, 255));
}

}  // namespace
