// Opening a COM port in the Windows build: the line settings, the exact restore and the message
// for a missing port (tests/wine/run-console.sh puts melor-sim's pseudo-terminal behind COM5).
// Frames and port discovery under Wine are proven by the pentrel-cli.exe runs of that script;
// exclusive use is not checked here, as Wine allows a second open of a port.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "../log_capture.h"
#include "serial/port.h"

namespace {

struct State {
  DCB dcb{};
  COMMTIMEOUTS timeouts{};
  bool operator==(const State& o) const { return memcmp(this, &o, sizeof o) == 0; }  // no padding
};

// The state and time-outs of COM5, read through a handle of its own unless one is given.
State Current(HANDLE port = INVALID_HANDLE_VALUE) {
  HANDLE own = port != INVALID_HANDLE_VALUE ? port
               : CreateFileW(L"\\\\.\\COM5", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  State state;
  state.dcb.DCBlength = sizeof(DCB);
  EXPECT_TRUE(GetCommState(own, &state.dcb) && GetCommTimeouts(own, &state.timeouts));
  if (own != port) CloseHandle(own);
  return state;
}

TEST(SerialWine, OpenPort_applies_the_line_settings_RestorePort_puts_the_old_back_and_a_missing_port_is_named) {
  LogCapture log;
  State before = Current(), saved;
  HANDLE port = OpenPort(u"COM5", &saved.dcb, &saved.timeouts);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  EXPECT_EQ(saved, before);
  State now = Current(port);
  uint32_t flags;
  memcpy(&flags, reinterpret_cast<const char*>(&now.dcb) + 8, sizeof flags);
  // The low 15 bits are 0x1091; Wine does not report fTXContinueOnXoff (0x80), so it is not read.
  EXPECT_EQ(flags & 0x7F7F, 0x1011u);
  EXPECT_EQ(std::tuple(now.dcb.BaudRate, now.dcb.ByteSize, now.dcb.Parity, now.dcb.StopBits),
            std::tuple(DWORD{57600}, BYTE{8}, BYTE{NOPARITY}, BYTE{ONESTOPBIT}));
  const COMMTIMEOUTS bootloader{0, 1, 60, 1, 10};
  EXPECT_EQ(memcmp(&now.timeouts, &bootloader, sizeof bootloader), 0);
  RestorePort(port, &saved.dcb, &saved.timeouts);
  EXPECT_EQ(Current(), before);
  EXPECT_TRUE(log.Lines().empty());
  EXPECT_EQ(OpenPort(u"COM231", nullptr, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(log.Lines(), std::vector<std::u16string>{u"Unable to open COM231 (2)"});
}

}  // namespace
