// What the serial tests stand on: a pseudo-terminal pair whose far end the test drives, a
// DOS-device folder that names the near end as a COM port, and a view that records log lines.
#pragma once

#include <chrono>
#include <filesystem>

#include "../bootloader/terminal_settings.h"
#include "log_capture.h"

using Lines = std::vector<std::u16string>;

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
