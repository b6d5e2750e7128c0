// The POSIX serial half of the Win32 subset: how names reach devices (the DOS-device folder and
// its default), the QueryDosDeviceW buffer contract, and ReadFile/WriteFile under COMMTIMEOUTS.
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>

#include "platform/text.h"
#include "serial_fixture.h"

namespace {

constexpr DWORD kMaxDword = 0xFFFFFFFFu;

HANDLE Open(const std::u16string& name) {
  return CreateFileW(Win32Text(name.c_str()), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::vector<std::u16string> SplitMultiString(const char16_t* list, DWORD count) {
  std::vector<std::u16string> names;
  for (DWORD i = 0; i + 1 < count; i += names.back().size() + 1) names.push_back(list + i);
  return names;
}

std::u16string Target(const std::u16string& name) {
  char16_t target[512];
  DWORD count = QueryDosDeviceW(Win32Text(name.c_str()), Win32Text(target), 512);
  return count == 0 ? u"" : std::u16string(target);
}

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

using DosDeviceNames = SerialTest;

TEST_F(DosDeviceNames, reach_devices_through_the_folder_by_name_in_any_case_or_by_absolute_path) {
  const std::u16string names[] = {u"\\\\.\\COM5", u"\\\\.\\com5",
                                  u"\\\\.\\" + ToU16(line.slavePath)};
  for (const std::u16string& name : names) {
    HANDLE port = Open(name);
    EXPECT_NE(port, INVALID_HANDLE_VALUE);
    if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
  }
  EXPECT_EQ(Target(u"COM5"), ToU16(line.slavePath));
  for (const char16_t* name : {u"\\\\.\\COM6", u"\\\\.\\..", u"\\\\.\\COM5/x", u"\\\\.\\"}) {
    EXPECT_EQ(Open(name), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  }
}

TEST_F(DosDeviceNames, are_listed_in_the_folders_order_with_the_win32_buffer_contract) {
  for (const char* name : {"zeta", "COM10", "alpha", "COM2"}) devices.Link(name, "/dev/null");
  std::vector<std::u16string> expected;
  DWORD needed = 1;
  for (const std::string& name : devices.Names()) {
    expected.push_back(ToU16(name));
    needed += name.size() + 1;
  }
  std::vector<char16_t> buffer(needed + 8, u'#');
  EXPECT_EQ(QueryDosDeviceW(nullptr, Win32Text(buffer.data()), needed), needed);
  EXPECT_EQ(SplitMultiString(buffer.data(), needed), expected);
  EXPECT_EQ(buffer[needed - 1], u'\0');
  EXPECT_EQ(buffer[needed], u'#');  // nothing written past the count given
  EXPECT_EQ(QueryDosDeviceW(nullptr, Win32Text(buffer.data()), needed - 1), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(QueryDosDeviceW(nullptr, Win32Text(buffer.data()), 0), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

// Without PENTREL_DOSDEVICES: ~/.pentrel/dosdevices when it exists, else the serial devices under
// /dev by their COM numbers.
TEST(DosDeviceDefault, is_the_home_folder_and_else_the_serial_devices_present) {
  PtyPair line;
  std::string home = "/tmp/pentrel-home." + std::to_string(getpid());
  std::filesystem::create_directories(home + "/.pentrel/dosdevices");
  std::filesystem::create_symlink(line.slavePath, home + "/.pentrel/dosdevices/COM7");
  const char* savedHome = getenv("HOME");
  std::string oldHome = savedHome != nullptr ? savedHome : "";
  setenv("HOME", home.c_str(), 1);
  unsetenv("PENTREL_DOSDEVICES");

  HANDLE port = Open(u"\\\\.\\COM7");
  EXPECT_NE(port, INVALID_HANDLE_VALUE);
  if (port != INVALID_HANDLE_VALUE) CloseHandle(port);

  std::filesystem::remove_all(home);
  std::vector<char16_t> buffer(8192);
  DWORD count = QueryDosDeviceW(nullptr, Win32Text(buffer.data()), 8192);
  ASSERT_GT(count, 0u);
  std::regex families(R"(/dev/tty(S|USB|ACM)(\d+))");
  for (const std::u16string& name : SplitMultiString(buffer.data(), count)) {
    int number = std::stoi(std::string(name.begin() + 3, name.end()));
    std::u16string target = Target(name);
    std::smatch match;
    std::string path(target.begin(), target.end());
    ASSERT_TRUE(std::regex_match(path, match, families)) << path;
    int first = match[1] == "S" ? 1 : match[1] == "USB" ? 33 : 65;
    EXPECT_EQ(number, first + std::stoi(match[2])) << path;
  }
  if (std::filesystem::exists("/dev/ttyS0")) {
    EXPECT_EQ(Target(u"COM1"), u"/dev/ttyS0");
  }
  EXPECT_EQ(Target(u"COM200"), u"");
  setenv("HOME", oldHome.c_str(), 1);
}

class SerialFileTest : public SerialTest {
 protected:
  HANDLE port = INVALID_HANDLE_VALUE;

  void SetUp() override {
    port = Open(u"\\\\.\\COM5");
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    DCB state;
    ASSERT_TRUE(GetCommState(port, &state));
    ASSERT_TRUE(SetCommState(port, &state));  // raw
  }
  void TearDown() override {
    if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
  }
  void SetTimeouts(COMMTIMEOUTS timeouts) { ASSERT_TRUE(SetCommTimeouts(port, &timeouts)); }
};

TEST_F(SerialFileTest, ReadFile_returns_a_full_read_at_once_and_else_what_came_at_the_timeout) {
  uint8_t buffer[40];
  DWORD count = 99;
  SetTimeouts({0, 1, 60, 0, 0});
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(ReadFile(port, buffer, 40, &count, nullptr));  // silence: success with 0 bytes
  EXPECT_EQ(count, 0u);
  EXPECT_GE(MillisecondsSince(start), 95);

  line.Send(Bytes(7, 0x42));
  start = std::chrono::steady_clock::now();
  EXPECT_TRUE(ReadFile(port, buffer, 40, &count, nullptr));
  EXPECT_EQ(count, 7u);
  EXPECT_GE(MillisecondsSince(start), 95);

  // With a long total time-out, 40 bytes that are there end the read long before it.
  SetTimeouts({0, 0, 20000, 0, 0});
  line.Send(Bytes(45, 0x43));
  start = std::chrono::steady_clock::now();
  EXPECT_TRUE(ReadFile(port, buffer, 40, &count, nullptr));
  EXPECT_EQ(count, 40u);
  EXPECT_LT(MillisecondsSince(start), 10000);
  EXPECT_EQ(line.Waiting(), 5);
}

TEST_F(SerialFileTest, ReadFile_honours_the_interval_modes) {
  uint8_t buffer[40];
  DWORD count = 99;
  SetTimeouts({kMaxDword, 0, 0, 0, 0});  // whatever is there, at once
  EXPECT_TRUE(ReadFile(port, buffer, 40, &count, nullptr));
  EXPECT_EQ(count, 0u);
  SetTimeouts({kMaxDword, kMaxDword, 20000, 0, 0});  // as soon as any byte came
  line.Send({1, 2, 3});
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(ReadFile(port, buffer, 40, &count, nullptr));
  EXPECT_EQ(count, 3u);
  SetTimeouts({30, 0, 0, 0, 0});  // a gap of 30 ms after a byte ends the read
  line.Send({4, 5});
  EXPECT_TRUE(ReadFile(port, buffer, 40, &count, nullptr));
  EXPECT_EQ(count, 2u);
  EXPECT_LT(MillisecondsSince(start), 10000);
}

TEST_F(SerialFileTest, WriteFile_returns_short_when_its_total_timeout_expires) {
  SetTimeouts({0, 0, 0, 0, 50});
  Bytes block(1 << 20, 0x55);  // far more than the line holds while nobody reads
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(port, block.data(), block.size(), &written, nullptr));
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, block.size());
}

TEST_F(SerialFileTest, GetCommState_gives_back_what_SetCommState_was_given) {
  DCB given;
  ASSERT_TRUE(GetCommState(port, &given));
  given.BaudRate = 115200;
  given.Parity = ODDPARITY;
  given.ByteSize = 6;
  given.StopBits = ONE5STOPBITS;
  given.fOutxCtsFlow = 1;
  given.fDsrSensitivity = 1;
  given.fDummy2 = 0x15555;
  given.XoffLim = 7;
  ASSERT_TRUE(SetCommState(port, &given));
  DCB back;
  ASSERT_TRUE(GetCommState(port, &back));
  EXPECT_EQ(memcmp(&given, &back, sizeof given), 0);
  DCB bad = given;
  bad.BaudRate = 12345;
  EXPECT_FALSE(SetCommState(port, &bad));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
