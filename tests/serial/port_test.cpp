// Opening a port: the bootloader's line settings, the saved copies that put the port back exactly
// (reserved bits included), exclusive use, and the failures with their messages.
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

#include "platform/text.h"
#include "serial/port.h"
#include "serial/port_list.h"
#include "serial_fixture.h"

namespace {

uint32_t FlagWord(const DCB& dcb) {
  uint32_t word;
  memcpy(&word, reinterpret_cast<const char*>(&dcb) + 8, sizeof word);
  return word;
}

bool SameBytes(const DCB& a, const DCB& b) { return memcmp(&a, &b, sizeof a) == 0; }
bool SameBytes(const COMMTIMEOUTS& a, const COMMTIMEOUTS& b) {
  return memcmp(&a, &b, sizeof a) == 0;
}

HANDLE OpenRaw(const char16_t* path) {
  return CreateFileW(Win32Text(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The state and time-outs a newly opened handle finds on COM5.
void ReadBack(DCB& state, COMMTIMEOUTS& timeouts) {
  HANDLE port = OpenRaw(u"\\\\.\\COM5");
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(GetCommState(port, &state));
  EXPECT_TRUE(GetCommTimeouts(port, &timeouts));
  CloseHandle(port);
}

// Sets the port up as some other program might have left it, reserved bits and all.
void LeaveOddlySetUp(DCB& state, COMMTIMEOUTS& timeouts) {
  HANDLE port = OpenRaw(u"\\\\.\\COM5");
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(GetCommState(port, &state));
  state.BaudRate = 9600;
  state.ByteSize = 7;
  state.Parity = EVENPARITY;
  state.StopBits = TWOSTOPBITS;
  state.fOutX = 1;
  state.fInX = 1;
  state.fOutxDsrFlow = 1;
  state.fDtrControl = DTR_CONTROL_HANDSHAKE;
  state.fRtsControl = RTS_CONTROL_TOGGLE;
  state.fNull = 1;
  state.fAbortOnError = 1;
  state.fTXContinueOnXoff = 0;
  state.fDummy2 = 0x1ABCD;
  state.wReserved = 0x1234;
  state.wReserved1 = 0x5678;
  state.XonLim = 100;
  state.XoffLim = 200;
  state.XonChar = 0x21;
  state.XoffChar = 0x23;
  state.ErrorChar = 0x3F;
  state.EofChar = 0x1A;
  state.EvtChar = 0x0A;
  ASSERT_TRUE(SetCommState(port, &state));
  timeouts = COMMTIMEOUTS{5, 6, 7, 8, 9};
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
  ASSERT_TRUE(CloseHandle(port));
}

using OpenPortTest = SerialTest;

TEST_F(OpenPortTest, applies_the_bootloader_line_settings_and_RestorePort_puts_back_the_old) {
  DCB before;
  COMMTIMEOUTS beforeTimeouts;
  LeaveOddlySetUp(before, beforeTimeouts);

  DCB saved;
  COMMTIMEOUTS savedTimeouts;
  HANDLE port = OpenPort(u"COM5", &saved, &savedTimeouts);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(SameBytes(saved, before));
  EXPECT_TRUE(SameBytes(savedTimeouts, beforeTimeouts));

  DCB now;
  COMMTIMEOUTS nowTimeouts;
  ASSERT_TRUE(GetCommState(port, &now));
  ASSERT_TRUE(GetCommTimeouts(port, &nowTimeouts));
  EXPECT_EQ(FlagWord(now) & 0x7FFF, 0x1091u);
  EXPECT_EQ(FlagWord(now) >> 15, FlagWord(before) >> 15);
  EXPECT_EQ(now.BaudRate, 57600u);
  EXPECT_EQ(now.ByteSize, 8);
  EXPECT_EQ(now.Parity, NOPARITY);
  EXPECT_EQ(now.StopBits, ONESTOPBIT);
  EXPECT_EQ(now.XonChar, 0x11);
  EXPECT_EQ(now.XoffChar, 0x13);
  // What the table does not name stays as read.
  EXPECT_EQ(now.XonLim, before.XonLim);
  EXPECT_EQ(now.XoffLim, before.XoffLim);
  EXPECT_EQ(now.wReserved1, before.wReserved1);
  EXPECT_EQ(now.EvtChar, before.EvtChar);
  EXPECT_TRUE(SameBytes(nowTimeouts, COMMTIMEOUTS{0, 1, 60, 1, 10}));

  // The tty itself is raw 57600 8N1 without flow control.
  termios t;
  ASSERT_EQ(tcgetattr(line.slave, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);

  RestorePort(port, &saved, &savedTimeouts);
  DCB after;
  COMMTIMEOUTS afterTimeouts;
  ReadBack(after, afterTimeouts);
  EXPECT_TRUE(SameBytes(after, before));
  EXPECT_TRUE(SameBytes(afterTimeouts, beforeTimeouts));
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(OpenPortTest, passes_every_byte_value_unchanged_both_ways) {
  HANDLE port = OpenPort(u"COM5", nullptr, nullptr);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  Bytes all(256);
  for (int i = 0; i < 256; i++) all[i] = static_cast<uint8_t>(i);
  DWORD count = 0;
  ASSERT_TRUE(WriteFile(port, all.data(), 256, &count, nullptr));
  EXPECT_EQ(count, 256u);
  EXPECT_EQ(line.Received(100), all);
  line.Send(all);
  Bytes back(256);
  ASSERT_TRUE(ReadFile(port, back.data(), 256, &count, nullptr));
  EXPECT_EQ(count, 256u);
  EXPECT_EQ(back, all);
  RestorePort(port, nullptr, nullptr);
}

TEST_F(OpenPortTest, without_saved_copies_RestorePort_only_closes) {
  HANDLE port = OpenPort(u"COM5", nullptr, nullptr);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  RestorePort(port, nullptr, nullptr);
  EXPECT_EQ(TestPortOpen(u"COM5"), 0);  // given back
  DCB state;
  COMMTIMEOUTS timeouts;
  ReadBack(state, timeouts);
  EXPECT_EQ(state.BaudRate, 57600u);
  EXPECT_TRUE(SameBytes(timeouts, COMMTIMEOUTS{0, 1, 60, 1, 10}));
}

TEST_F(OpenPortTest, a_port_in_use_fails_for_this_and_other_processes_until_given_back) {
  HANDLE port = OpenPort(u"COM5", nullptr, nullptr);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenPort(u"COM5", nullptr, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(TestPortOpen(u"COM5"), 1);
  pid_t child = fork();
  if (child == 0) {
    HANDLE other = OpenRaw(u"\\\\.\\COM5");
    _exit(other == INVALID_HANDLE_VALUE ? static_cast<int>(GetLastError()) : 0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(ERROR_ACCESS_DENIED));
  RestorePort(port, nullptr, nullptr);
  EXPECT_EQ(TestPortOpen(u"COM5"), 0);
  EXPECT_EQ(log.Lines(), std::vector<std::u16string>{u"Unable to open COM5 (5)"});
}

TEST_F(OpenPortTest, reports_a_missing_port_and_a_device_that_is_no_serial_port) {
  EXPECT_EQ(OpenPort(u"COM9", nullptr, nullptr), INVALID_HANDLE_VALUE);
  devices.Link("COM6", "/dev/null");
  DCB saved{};
  saved.BaudRate = 1234;
  EXPECT_EQ(OpenPort(u"COM6", &saved, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(saved.BaudRate, 1234u);       // nothing copied before the state was read
  EXPECT_EQ(TestPortOpen(u"COM6"), 0);    // and the handle was given back
  EXPECT_EQ(log.Lines(), (std::vector<std::u16string>{u"Unable to open COM9 (2)",
                                                        u"Unable to get COM6 configuration (22)"}));
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
