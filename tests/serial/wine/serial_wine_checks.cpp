// Opening a COM port in the Windows build: the exact restore (tests/wine/run-console.sh puts
// melor-sim's pseudo-terminal behind COM5).
// Frames and port discovery under Wine are proven by the pentrel-cli.exe runs of that script;
// exclusive use is not checked here, as Wine allows a second open of a port.
#include <gtest/gtest.h>

#include "log_capture.h"
#include "port_state.h"
#include "serial/port.h"

namespace {

// Under Wine, GetCommState leaves the fields it does not report untouched: the saved copy must
// still be the port's whole state, or RestorePort writes garbage back. The line settings applied
// and the message for a missing port are the same core code as natively (port_test.cpp).
TEST(SerialWine, OpenPort_saves_the_whole_state_and_RestorePort_puts_it_back_exactly) {
  LogCapture log;
  std::pair<DCB, COMMTIMEOUTS> before = PortState(u"COM5"), saved{}, applied{};
  HANDLE port = OpenPort(u"COM5", &saved.first, &saved.second);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(SameBytes(saved, before));
  applied.first.DCBlength = sizeof(DCB);
  EXPECT_TRUE(GetCommState(port, &applied.first) && GetCommTimeouts(port, &applied.second));
  EXPECT_FALSE(SameBytes(applied, before)) << "no line settings applied, so nothing to put back";
  RestorePort(port, &saved.first, &saved.second);
  EXPECT_TRUE(SameBytes(PortState(u"COM5"), before));
  EXPECT_TRUE(log.Lines().empty());
}

}  // namespace
