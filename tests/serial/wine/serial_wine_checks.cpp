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

std::u16string EchoPort() {
  const char* name = getenv("PENTREL_TEST_COM");
  std::string text = name != nullptr ? name : "COM5";
  return std::u16string(text.begin(), text.end());
}

uint32_t FlagWord(const DCB& dcb) {
  uint32_t word;
  memcpy(&word, reinterpret_cast<const char*>(&dcb) + 8, sizeof word);
  return word;
}

struct State {
  DCB dcb;
  COMMTIMEOUTS timeouts;
};

State CurrentState(const std::u16string& name) {
  std::u16string path = u"\\\\.\\" + name;
  HANDLE port = CreateFileW(Win32Text(path.c_str()), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  State state{};
  EXPECT_NE(port, INVALID_HANDLE_VALUE);
  state.dcb.DCBlength = sizeof(DCB);
  EXPECT_TRUE(GetCommState(port, &state.dcb));
  EXPECT_TRUE(GetCommTimeouts(port, &state.timeouts));
  CloseHandle(port);
  return state;
}

class SerialWine : public ::testing::Test {
 protected:
  LogCapture log;
  std::u16string name = EchoPort();
};

TEST_F(SerialWine, OpenPort_applies_the_line_settings_and_RestorePort_puts_the_old_back) {
  State before = CurrentState(name);
  DCB saved;
  COMMTIMEOUTS savedTimeouts;
  HANDLE port = OpenPort(name.c_str(), &saved, &savedTimeouts);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  EXPECT_EQ(testing::PrintToString(saved), testing::PrintToString(before.dcb));
  EXPECT_EQ(memcmp(&savedTimeouts, &before.timeouts, sizeof savedTimeouts), 0);
  DCB now{};
  now.DCBlength = sizeof now;
  COMMTIMEOUTS timeouts;
  ASSERT_TRUE(GetCommState(port, &now));
  ASSERT_TRUE(GetCommTimeouts(port, &timeouts));
  EXPECT_EQ(now.BaudRate, 57600u);
  // The low 15 bits are 0x1091; Wine does not report fTXContinueOnXoff (0x80), so it is not read.
  EXPECT_EQ(FlagWord(now) & 0x7F7F, 0x1011u);
  EXPECT_EQ(now.ByteSize, 8);
  EXPECT_EQ(now.Parity, NOPARITY);
  EXPECT_EQ(now.StopBits, ONESTOPBIT);
  EXPECT_EQ(now.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
  EXPECT_EQ(now.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
  EXPECT_EQ(now.fOutxCtsFlow | now.fOutxDsrFlow | now.fOutX | now.fInX, 0u);
  EXPECT_EQ(timeouts.ReadIntervalTimeout, 0u);
  EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 1u);
  EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 60u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 1u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 10u);
  RestorePort(port, &saved, &savedTimeouts);

  State after = CurrentState(name);
  EXPECT_EQ(testing::PrintToString(after.dcb), testing::PrintToString(before.dcb));
  EXPECT_EQ(memcmp(&after.timeouts, &before.timeouts, sizeof after.timeouts), 0);
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
