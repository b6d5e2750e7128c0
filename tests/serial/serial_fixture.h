// What the serial tests stand on: a pseudo-terminal pair whose far end the test drives, a
// DOS-device folder that names the near end as a COM port, and a view that records log lines.
#pragma once

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "log_capture.h"
#include "platform/text.h"
#include "platform/win32.h"

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::u16string>;

// A raw pseudo-terminal pair. The test writes and reads the far end (the master, non-blocking);
// the code under test opens the near end by its path. `slave` is the fixture's own descriptor of
// the near end, with no lock, to look at its input queue and its termios.
struct PtyPair {
  int master = -1, slave = -1;
  std::string slavePath;

  PtyPair() {
    termios raw{};
    cfmakeraw(&raw);
    cfsetspeed(&raw, B9600);
    char name[256];
    if (openpty(&master, &slave, name, &raw, nullptr) != 0) ADD_FAILURE() << "openpty failed";
    slavePath = name;
    fcntl(master, F_SETFL, O_NONBLOCK);
  }
  ~PtyPair() {
    HangUp();
    close(slave);
  }

  // The tests send less than the pty buffers hold, so one write takes it all.
  void Send(const Bytes& bytes) const {
    EXPECT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // What the near end has written, collected until the line stays quiet for quietMs.
  Bytes Received(int quietMs = 200) const {
    Bytes bytes;
    uint8_t chunk[4096];
    pollfd entry{master, POLLIN, 0};
    for (ssize_t count; poll(&entry, 1, quietMs) > 0 && (count = read(master, chunk, 4096)) > 0;)
      bytes.insert(bytes.end(), chunk, chunk + count);
    return bytes;
  }
  // Bytes written by the far end and not yet read by the near end.
  int Waiting() const {
    int count = 0;
    return ioctl(slave, FIONREAD, &count) == 0 ? count : -1;
  }
  void HangUp() {
    close(master);
    master = -1;
  }
};

// A test with the log recorded and a temporary DOS-device folder, named by PENTREL_DOSDEVICES,
// where COM5 is a fresh pty pair.
class SerialTest : public ::testing::Test {
 protected:
  PtyPair line;
  LogCapture log;
  std::string devices;

  SerialTest() {
    char pattern[] = "/tmp/pentrel-dosdevices.XXXXXX";
    devices = mkdtemp(pattern);
    setenv("PENTREL_DOSDEVICES", devices.c_str(), 1);
    Link("COM5", line.slavePath);
  }
  ~SerialTest() override {
    unsetenv("PENTREL_DOSDEVICES");
    std::filesystem::remove_all(devices);
  }
  void Link(const std::string& name, const std::string& target) const {
    std::filesystem::create_symlink(target, devices + "/" + name);
  }
  // Names in the folder's own order, as the directory lists them.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(devices))
      names.push_back(entry.path().filename());
    return names;
  }
};

inline std::u16string ToU16(const std::string& text) { return {text.begin(), text.end()}; }

// Opens "\\.\" + name for exclusive use, as any program might, without OpenPort's settings.
inline HANDLE OpenDevice(const std::u16string& name) {
  std::u16string path = u"\\\\.\\" + name;
  return CreateFileW(Win32Text(path.c_str()), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}
