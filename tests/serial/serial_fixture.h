// What the serial tests stand on: a pseudo-terminal pair whose far end the test drives, a
// DOS-device folder that names the near end as a COM port, a view that records log lines, and a
// made-up /sys and /proc.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>

#include "../bootloader/terminal_settings.h"
#include "log_capture.h"

using Lines = std::vector<std::u16string>;

// The device a port name leads to, "" for none.
inline std::string Target(const std::string& name) {
  char16_t target[512];
  DWORD count = QueryDosDeviceW(Win32Text(ToU16(name).c_str()), Win32Text(target), 512);
  return count == 0 ? "" : std::string(target, target + count - 2);
}

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

// A made-up system root, named by PENTREL_SYSTEM_ROOT, that is also HOME (with no DOS-device
// folder), so that the serial ports are named from its /sys.
struct FakeSystem {
  std::string root, home = getenv("HOME") != nullptr ? getenv("HOME") : "";
  FakeSystem() {
    char pattern[] = "/tmp/pentrel-system.XXXXXX";
    root = mkdtemp(pattern);
    setenv("PENTREL_SYSTEM_ROOT", root.c_str(), 1);
    setenv("HOME", root.c_str(), 1);
    unsetenv("PENTREL_DOSDEVICES");
    std::filesystem::create_directories(root + "/sys/class/tty");
  }
  ~FakeSystem() {
    unsetenv("PENTREL_SYSTEM_ROOT");
    setenv("HOME", home.c_str(), 1);
    std::filesystem::remove_all(root);
  }
  void Write(const std::string& path, const std::string& text) const {
    std::filesystem::create_directories(std::filesystem::path(root + path).parent_path());
    std::ofstream(root + path) << text << "\n";
  }
  void Link(const std::string& path, const std::string& target) const {
    std::filesystem::create_directories(std::filesystem::path(root + path).parent_path());
    std::filesystem::create_symlink(target, root + path);
  }
  // A tty in the tty class, with its device (a folder of that path below /sys/devices) if any.
  void Tty(const std::string& name, const std::string& device, const std::string& type = "") {
    std::filesystem::create_directories(root + "/sys/class/tty/" + name);
    std::string folder = root + "/sys/devices/" + device;
    if (!device.empty()) Link("/sys/class/tty/" + name + "/device", folder);
    std::filesystem::create_directories(folder);
    if (!type.empty()) Write("/sys/class/tty/" + name + "/type", type);
  }
  // A process with its parent and its program, and the file its descriptor 3 leads to if any.
  void Process(long pid, long parent, const std::string& program, const std::string& file) const {
    std::string folder = "/proc/" + std::to_string(pid);
    Write(folder + "/stat", std::to_string(pid) + " (" + program + ") S " +
                                std::to_string(parent) + " 1 1 0 -1");
    Write(folder + "/comm", program);
    Link(folder + "/exe", "/usr/bin/" + program);
    Link(folder + "/fd/3", file.empty() ? "pipe:[1]" : file);
  }
};
