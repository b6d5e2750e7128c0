// What the serial tests stand on: a pseudo-terminal pair whose far end the test drives, a
// DOS-device folder that names the near end as a COM port, and a view that records log lines.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "log_capture.h"
#include "platform/win32.h"

using Bytes = std::vector<uint8_t>;

// A raw pseudo-terminal pair. The test writes and reads the far end (the master); the code under
// test opens the near end by its path. The fixture keeps its own descriptor of the near end, with
// no lock, to look at its input queue and its termios.
struct PtyPair {
  int master = -1;
  int slave = -1;
  std::string slavePath;

  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  void Send(const Bytes& bytes) const;
  // What the near end has written, collected until the line stays quiet for quietMs.
  Bytes Received(int quietMs = 200) const;
  // Bytes written by the far end and not yet read by the near end.
  int Waiting() const;
  // Waits (at most 10 s) until the near end has read everything sent to it.
  void AwaitDrained() const;
  void HangUp();
};

// A temporary DOS-device folder named by PENTREL_DOSDEVICES for the life of the object.
struct DosDeviceFolder {
  std::string path;

  DosDeviceFolder();
  ~DosDeviceFolder();
  DosDeviceFolder(const DosDeviceFolder&) = delete;
  DosDeviceFolder& operator=(const DosDeviceFolder&) = delete;

  void Link(const std::string& name, const std::string& target) const;
  // Names in the folder's own order, as the directory lists them.
  std::vector<std::string> Names() const;
};

// A test with a COM5 on a fresh pty pair and the log recorded.
class SerialTest : public ::testing::Test {
 protected:
  PtyPair line;
  DosDeviceFolder devices;
  LogCapture log;

  SerialTest() { devices.Link("COM5", line.slavePath); }
};

std::u16string ToU16(const std::string& text);
