// The POSIX serial half of the Win32 subset: how names reach devices (the DOS-device folder and
// its default), the QueryDosDeviceW buffer contract, and ReadFile under COMMTIMEOUTS, the
// interval time-out included.
#include <thread>
#include <tuple>

#include "serial_fixture.h"

namespace {

using PosixSerialFile = SerialTest;

// Names reach devices through the folder in any case, or by absolute path; the list comes in the
// folder's order with the Win32 buffer contract.
TEST_F(PosixSerialFile, DOS_device_names_reach_devices_and_are_listed_in_the_folders_order) {
  for (const std::u16string& name : Lines{u"COM5", u"com5", ToU16(line.slavePath)}) {
    HANDLE port = OpenDevice(name);
    EXPECT_NE(port, INVALID_HANDLE_VALUE);
    CloseHandle(port);
  }
  // (A single name's target is each row of `pentrel-cli ports`: tests/cli/cli_test.cpp.)
  for (const char16_t* name : {u"COM6", u"..", u"COM5/x", u""}) {
    EXPECT_EQ(OpenDevice(name), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  }

  for (const char* name : {"zeta", "COM10", "alpha", "COM2"}) Link(name, "/dev/null");
  std::u16string names;
  for (const std::string& name : Names()) names += ToU16(name) + u'\0';
  DWORD needed = names.size() + 1;
  std::u16string buffer(needed + 8, u'#');
  EXPECT_EQ(QueryDosDeviceW(nullptr, Win32Text(buffer.data()), needed), needed);
  EXPECT_EQ(buffer, names + u'\0' + u"########");  // nothing written past the count given
  for (DWORD tooSmall : {needed - 1, 0u}) {
    EXPECT_EQ(QueryDosDeviceW(nullptr, Win32Text(buffer.data()), tooSmall), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  }
}

// Without PENTREL_DOSDEVICES: ~/.pentrel/dosdevices when it exists (else the serial ports the
// kernel shows: linux_ports_test.cpp).
TEST_F(PosixSerialFile, without_PENTREL_DOSDEVICES_the_folder_is_in_HOME) {
  FakeSystem system;
  system.Link("/.pentrel/dosdevices/COM7", line.slavePath);
  EXPECT_EQ(Target("COM7"), line.slavePath);
}

// The time-outs the bootloader's line uses: without an interval a read waits out its total
// time-out; with one it ends once the line has been quiet for the interval after its first byte:
// gaps shorter than that keep the read going, and a read that gets nothing still waits out its
// whole total time-out.
TEST_F(PosixSerialFile, ReadFile_ends_as_its_timeouts_say_and_takes_no_more_than_asked) {
  HANDLE port = OpenDevice(u"COM5");
  DCB state;
  ASSERT_TRUE(GetCommState(port, &state) && SetCommState(port, &state));  // raw
  state.BaudRate = 12345;  // a baud rate the line cannot run is refused
  EXPECT_FALSE(SetCommState(port, &state));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  // The time-outs; the pauses before each burst the far end sends, and the burst; the fewest and
  // the most bytes the read takes; the least time it takes.
  std::tuple<COMMTIMEOUTS, std::vector<int>, size_t, DWORD, DWORD, double, const char*> cases[] = {
      {{0, 1, 60, 0, 0}, {}, 0, 0, 0, 95, "silence: success with 0 bytes at the total time-out"},
      {{0, 1, 60, 0, 0}, {0}, 7, 7, 7, 95, "what came by the total time-out"},
      {{0, 0, 20000, 0, 0}, {0}, 70, 64, 64, 0, "a full read at once, the rest left waiting"},
      {{500, 0, 20000, 0, 0}, {0, 5, 5, 5}, 10, 40, 40, 0, "bursts closer than the interval"},
      {{20, 0, 2000, 0, 0}, {0, 300}, 10, 10, 10, 0, "the burst before a quiet gap"},
      {{20, 0, 300, 0, 0}, {}, 0, 0, 0, 295, "nothing: the whole total time-out"},
      {{1000, 0, 100, 0, 0}, std::vector<int>(60, 5), 1, 1, 30, 0, "a trickle cut off in time"},
  };
  for (auto& [timeouts, pausesMs, burst, fewest, most, atLeastMs, what] : cases) {
    ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
    std::thread sender([&] {
      for (int pause : pausesMs) {
        std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        line.Send(Bytes(burst, 0x42));
      }
    });
    uint8_t buffer[64];
    DWORD count = 99;
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(ReadFile(port, buffer, 64, &count, nullptr)) << what;
    std::chrono::duration<double, std::milli> ms = std::chrono::steady_clock::now() - start;
    sender.join();
    int left = static_cast<int>(pausesMs.size() * burst - count);
    for (int i = 0; i < 100 && line.Waiting() != left; i++) usleep(1000);  // bytes on their way
    EXPECT_TRUE(fewest <= count && count <= most) << what << ": " << count;
    EXPECT_TRUE(atLeastMs <= ms.count() && ms.count() < 10000) << what << ": " << ms.count();
    EXPECT_EQ(line.Waiting(), left) << what;
    tcflush(line.slave, TCIFLUSH);
  }
  CloseHandle(port);
}

}  // namespace
