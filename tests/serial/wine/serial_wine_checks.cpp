// Opening a COM port in the Windows build: the line settings, the exact restore and the message
// for a missing port (tests/wine/run-serial.sh maps a pseudo-terminal to the port named by
// PENTREL_TEST_COM). Frames and port discovery under Wine are proven by the programming runs of
// tests/wine/run-cli.sh; exclusive use is not checked here, as Wine allows a second open of a port.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../log_capture.h"
#include "platform/text.h"
#include "serial/port.h"

namespace {

struct State {
  DCB dcb{};
  COMMTIMEOUTS timeouts{};
  bool operator==(const State& o) const {
    return testing::PrintToString(dcb) == testing::PrintToString(o.dcb) &&
           memcmp(&timeouts, &o.timeouts, sizeof timeouts) == 0;
  }
};

class SerialWine : public ::testing::Test {
 protected:
  LogCapture log;
  std::u16string name;

  SerialWine() {
    const char* chosen = getenv("PENTREL_TEST_COM");
    std::string text = chosen != nullptr ? chosen : "COM5";
    name.assign(text.begin(), text.end());
  }
  // The state and time-outs of the port, read through a handle of its own unless one is given.
  State Current(HANDLE port = INVALID_HANDLE_VALUE) {
    std::u16string path = u"\\\\.\\" + name;
    HANDLE own = port != INVALID_HANDLE_VALUE ? port
                 : CreateFileW(Win32Text(path.c_str()), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    State state;
    state.dcb.DCBlength = sizeof(DCB);
    EXPECT_TRUE(GetCommState(own, &state.dcb) && GetCommTimeouts(own, &state.timeouts));
    if (own != port) CloseHandle(own);
    return state;
  }
};

TEST_F(SerialWine, OpenPort_applies_the_line_settings_RestorePort_puts_the_old_back_and_a_missing_port_is_named) {
  State before = Current(), saved;
  HANDLE port = OpenPort(name.c_str(), &saved.dcb, &saved.timeouts);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  EXPECT_EQ(saved, before);
  State now = Current(port);
  uint32_t flags;
  memcpy(&flags, reinterpret_cast<const char*>(&now.dcb) + 8, sizeof flags);
  // The low 15 bits are 0x1091; Wine does not report fTXContinueOnXoff (0x80), so it is not read.
  EXPECT_EQ(flags & 0x7F7F, 0x1011u);
  EXPECT_EQ(now.dcb.BaudRate, 57600u);
  EXPECT_EQ(now.dcb.ByteSize, 8);
  EXPECT_EQ(now.dcb.Parity, NOPARITY);
  EXPECT_EQ(now.dcb.StopBits, ONESTOPBIT);
  const COMMTIMEOUTS bootloader{0, 1, 60, 1, 10};
  EXPECT_EQ(memcmp(&now.timeouts, &bootloader, sizeof bootloader), 0);
  RestorePort(port, &saved.dcb, &saved.timeouts);
  EXPECT_EQ(Current(), before);
  EXPECT_TRUE(log.Lines().empty());
  EXPECT_EQ(OpenPort(u"COM231", nullptr, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(log.Lines(), std::vector<std::u16string>{u"Unable to open COM231 (2)"});
}

}  // namespace
