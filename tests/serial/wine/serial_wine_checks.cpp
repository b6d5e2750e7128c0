// Opening a COM port in the Windows build: the exact restore (tests/wine/run-console.sh puts
// melor-sim's pseudo-terminal behind COM5).
// Frames and port discovery under Wine are proven by the pentrel-cli.exe runs of that script;
// exclusive use is not checked here, as Wine allows a second open of a port.
#include <gtest/gtest.h>

#include <cstring>

#include "log_capture.h"
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

// Under Wine, GetCommState leaves the fields it does not report untouched: the saved copy must
// still be the port's whole state, or RestorePort writes garbage back. The line settings applied
// and the message for a missing port are the same core code as natively (port_test.cpp).
TEST(SerialWine, OpenPort_saves_the_whole_state_and_RestorePort_puts_it_back_exactly) {
  LogCapture log;
  State before = Current(), saved;
  HANDLE port = OpenPort(u"COM5", &saved.dcb, &saved.timeouts);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  EXPECT_EQ(saved, before);
  EXPECT_FALSE(Current(port) == before) << "no line settings applied, so nothing to put back";
  RestorePort(port, &saved.dcb, &saved.timeouts);
  EXPECT_EQ(Current(), before);
  EXPECT_TRUE(log.Lines().empty());
}

}  // namespace
