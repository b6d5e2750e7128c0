// Telling whether a port is free: the usual signs of another program holding it count as in use,
// an open starts with empty queues, and a write returns once its bytes have left. (A released
// port opening again: port_test.cpp; a terminal in normal mode put back exactly:
// tests/bootloader/port_handover_test.cpp.)
#include <sys/file.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <functional>

#include "serial/port.h"
#include "serial/port_list.h"
#include "serial_fixture.h"

namespace {

// The UUCP lock file name of the fixture's pty: its path below /dev, '/' as '_'.
std::string LockFileFor(const std::string& slavePath) {
  std::string name = slavePath.substr(5);
  for (char& c : name) c = c == '/' ? '_' : c;
  return "/run/lock/LCK.." + name;
}

pid_t EndedProcess() {
  pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return child;
}

using PortReleaseTest = SerialTest;

TEST_F(PortReleaseTest, a_port_another_program_holds_in_a_visible_way_is_in_use) {
  std::string lockFile = LockFileFor(line.slavePath);
  // The usual form: the pid in ASCII, padded to ten characters.
  auto writeLock = [&](long pid) {
    std::ofstream(lockFile) << std::string(10 - std::to_string(pid).size(), ' ') << pid << '\n';
  };
  auto writeBinaryLock = [&](int pid) {
    std::ofstream(lockFile, std::ios::binary).write(reinterpret_cast<const char*>(&pid), 4);
  };
  auto removeLock = [&] { remove(lockFile.c_str()); };
  int other = -1;
  struct Case {
    const char* what;
    std::function<void()> hold, letGo;
    bool inUse;
  } cases[] = {
      {"an flock from another descriptor",
       [&] { other = open(line.slavePath.c_str(), O_RDWR | O_NOCTTY), flock(other, LOCK_EX); },
       [&] { close(other); }, true},
      {"the tty's exclusive mode set by another descriptor",
       [&] { ioctl(line.slave, TIOCEXCL); }, [&] { ioctl(line.slave, TIOCNXCL); }, true},
      {"a UUCP lock file with a live pid", [&] { writeLock(getpid()); }, removeLock, true},
      {"a UUCP lock file of four ASCII bytes (pid 1)",
       [&] { std::ofstream(lockFile) << "  1\n"; }, removeLock, true},
      {"a UUCP lock file with a binary pid", [&] { writeBinaryLock(getpid()); }, removeLock, true},
      {"a UUCP lock file left by a process that ended", [&] { writeLock(EndedProcess()); },
       removeLock, false},
  };
  bool canLock = access("/run/lock", W_OK) == 0;
  for (Case& c : cases) {
    if (!canLock && std::string(c.what).find("UUCP") != std::string::npos) continue;
    c.hold();
    EXPECT_EQ(TestPortOpen(u"COM5"), c.inUse ? 1 : 0) << c.what;
    HANDLE port = OpenPort(u"COM5", nullptr, nullptr);
    EXPECT_EQ(port != INVALID_HANDLE_VALUE, !c.inUse) << c.what;
    if (port != INVALID_HANDLE_VALUE) RestorePort(port, nullptr, nullptr);
    c.letGo();
    EXPECT_EQ(TestPortOpen(u"COM5"), 0) << c.what << ", once let go";
  }
  EXPECT_EQ(log.Lines(), Lines(canLock ? 5 : 2, u"Unable to open COM5 (5)"));
}

TEST_F(PortReleaseTest, an_open_port_starts_with_empty_queues) {
  line.Send(Bytes{0x55, 0x55, 0x55, 0x55, 0x00, 0x04});  // came while nobody had the port open
  HANDLE port = OpenPort(u"COM5", nullptr, nullptr);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  EXPECT_EQ(line.Waiting(), 0);
  line.Send(Bytes{0x42});
  uint8_t buffer[40];
  DWORD count = 0;
  EXPECT_TRUE(ReadFile(port, buffer, 40, &count, nullptr));
  EXPECT_EQ(count, 1u);  // only what came after the open
  RestorePort(port, nullptr, nullptr);
}

TEST_F(PortReleaseTest, WriteFile_returns_once_the_bytes_have_left_within_its_write_timeout) {
  HANDLE port = OpenPort(u"COM5", nullptr, nullptr);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  auto timedWrite = [&](DWORD bytes, DWORD& written) {
    Bytes data(bytes, 0x42);
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(WriteFile(port, data.data(), bytes, &written, nullptr));
    line.Received(20);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
  };
  DWORD written = 0;
  // 1040 bytes of 10 bits at 57600 baud are 180.6 ms on the line.
  EXPECT_GE(timedWrite(1040, written), 180.0);
  EXPECT_EQ(written, 1040u);
  // At 300 baud the same bytes would take 35 s; the write time-out (1040 + 10 ms) ends the wait.
  DCB slow;
  ASSERT_TRUE(GetCommState(port, &slow));
  slow.BaudRate = 300;
  ASSERT_TRUE(SetCommState(port, &slow));
  EXPECT_LT(timedWrite(1040, written), 10000.0);
  RestorePort(port, nullptr, nullptr);
}

}  // namespace
