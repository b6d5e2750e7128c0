// The serial link in the Windows build, against a COM port whose far end echoes every byte
// (tests/wine/run-serial.sh maps a pseudo-terminal with an echo behind it to the port named by
// PENTREL_TEST_COM). Exclusive use is not checked here: Wine allows a second open of a port.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../log_capture.h"
#include "platform/text.h"
#include "serial/framing.h"
#include "serial/port.h"
#include "serial/port_list.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct State {
  DCB dcb{static_cast<DWORD>(sizeof(DCB))};
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
    EXPECT_TRUE(GetCommState(own, &state.dcb) && GetCommTimeouts(own, &state.timeouts));
    if (own != port) CloseHandle(own);
    return state;
  }
};

TEST_F(SerialWine, OpenPort_applies_the_line_settings_and_RestorePort_puts_the_old_back) {
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
}

TEST_F(SerialWine, a_frame_sent_comes_back_whole_and_silence_ends_the_receive) {
  HANDLE port = OpenPort(name.c_str(), nullptr, nullptr);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  const Bytes payload = {0x09, 0x55, 0x04, 0x05, 0x00, 0xFF};
  ASSERT_EQ(SendPacket(port, payload.data(), static_cast<int32_t>(payload.size())), 0);
  const uint8_t* data = nullptr;
  int32_t length = 0;
  ASSERT_EQ(ReceivePacket(port, &data, &length, 10), 0);
  EXPECT_EQ(Bytes(data, data + length), payload);

  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReceivePacket(port, &data, &length, 2), 1);
  double elapsed =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(length, 0);
  EXPECT_GE(elapsed, 3 * 80);  // three empty reads of about 100 ms
  EXPECT_LT(elapsed, 10000);
  RestorePort(port, nullptr, nullptr);
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(SerialWine, BuildPortList_lists_the_port_and_OpenPort_names_a_missing_one) {
  PortList list = nullptr;
  BuildPortList(&list);
  bool listed = false;
  for (PortNode* node = list; node != nullptr; node = node->next) {
    EXPECT_EQ(std::u16string(node->name).rfind(u"COM", 0), 0u);
    listed = listed || name == node->name;
  }
  EXPECT_TRUE(listed);
  FreePortList(&list);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(OpenPort(u"COM231", nullptr, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(log.Lines(), std::vector<std::u16string>{u"Unable to open COM231 (2)"});
}

}  // namespace
