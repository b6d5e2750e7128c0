// A port as any program finds it, on both platforms: opened for exclusive use without OpenPort's
// settings, and the line state and time-outs it keeps for its next opener.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "platform/text.h"
#include "platform/win32.h"

// The tests' port names and paths are ASCII.
inline std::u16string ToU16(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

// Opens "\\.\" + name for exclusive use, as any program might, without OpenPort's settings.
inline HANDLE OpenDevice(const std::u16string& name) {
  std::u16string path = u"\\\\.\\" + name;
  return CreateFileW(Win32Text(path.c_str()), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The line state and time-outs that the port keeps for its next opener, after setting those
// given first, as another program might leave them.
inline std::pair<DCB, COMMTIMEOUTS> PortState(const std::u16string& name,
                                              COMMTIMEOUTS* timeouts = nullptr,
                                              DCB* state = nullptr) {
  std::pair<DCB, COMMTIMEOUTS> found{};
  found.first.DCBlength = sizeof(DCB);
  HANDLE port = OpenDevice(name);
  EXPECT_TRUE((timeouts == nullptr || SetCommTimeouts(port, timeouts)) &&
              (state == nullptr || SetCommState(port, state)) &&
              GetCommState(port, &found.first) && GetCommTimeouts(port, &found.second));
  CloseHandle(port);
  return found;
}

// Byte for byte, reserved fields included.
template <typename T>
bool SameBytes(const T& a, const T& b) { return memcmp(&a, &b, sizeof a) == 0; }
