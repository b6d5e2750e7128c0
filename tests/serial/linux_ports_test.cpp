// The serial ports of a Linux machine as a made-up /sys and /proc show them: every family's COM
// names and their order, the entries that are no port, the console and the process's own
// terminal left out of the list, the serial core's driver details, and a port that another program
// has open.
#include "platform/port_description.h"
#include "platform/port_holder.h"
#include "serial_fixture.h"

namespace {

std::vector<std::string> DeviceNames() {
  std::u16string list(8192, u'\0');
  list.resize(QueryDosDeviceW(nullptr, Win32Text(list.data()), 8192));
  std::vector<std::string> names;
  for (size_t at = 0; at < list.size() && list[at] != u'\0'; at = list.find(u'\0', at) + 1)
    names.emplace_back(list.begin() + at, list.begin() + list.find(u'\0', at));
  return names;
}

// Each family has its range, from device 32 on a range above 1000; a tty that fits no family
// goes by its path. No device, an unknown UART type or being the console keeps a tty off the
// list; a console named by the user is still found.
TEST(LinuxPorts, are_named_by_family_and_only_real_ports_other_than_the_console_are_listed) {
  FakeSystem system;
  // The tty, its UART type in sysfs ("" for a driver that is no UART driver), its COM name (or
  // path) and whether it is listed.
  struct { const char* tty; const char* type; const char* name; bool listed; } rows[] = {
      {"ttyS0", "4", "COM1", true},         {"ttyS1", "0", "", false},
      {"ttyS2", "4", "COM3", false},        {"ttyS3", "4", "COM4", false},
      {"ttyUSB0", "", "COM33", true},       {"ttyACM1", "", "COM66", true},
      {"ttyAMA0", "32", "COM97", true},     {"ttyXRUSB2", "", "COM131", true},
      {"ttySC0", "", "COM161", true},       {"ttymxc1", "1", "COM194", true},
      {"ttyTHS0", "", "COM225", true},      {"rfcomm0", "", "COM257", true},
      {"ttyO1", "", "COM290", true},        {"ttyS32", "4", "COM1032", true},
      {"ttyUSB40", "", "COM2040", true},    {"ttyPS999", "", "COM12999", true},
      {"ttyFOO3", "", "/dev/ttyFOO3", true}, {"ttyUSB1000", "", "/dev/ttyUSB1000", true}};
  for (const auto& row : rows) system.Tty(row.tty, row.tty, row.type);
  system.Write("/sys/class/tty/ttyS2/console", "Y");
  system.Write("/sys/class/tty/console/active", "tty0 ttyS3");
  system.Tty("tty1", "");  // a virtual console
  system.Tty("ptmx", "");

  std::vector<std::string> listed;
  for (const auto& row : rows) {
    if (row.listed) listed.push_back(row.name);
    if (row.name[0] != '\0') {
      EXPECT_EQ(Target(row.name), "/dev/" + std::string(row.tty));
    }
  }
  EXPECT_EQ(DeviceNames(), listed);
  for (const char* none : {"COM2", "COM34", "COM1000", "COM1031", "COM13032", "COM0", "COM"}) {
    EXPECT_EQ(Target(none), "") << none;
  }
}

// A port of the serial core is described by its controller's driver (a USB adapter, by its
// device and driver: the real-driver rig's ports case).
TEST(LinuxPorts, of_the_serial_core_are_described_by_their_controllers_driver) {
  FakeSystem system;
  std::string uart = "/sys/devices/pnp0/00:00/", drivers = system.root + "/sys/bus/";
  system.Tty("ttyS0", "pnp0/00:00/00:00:0.0", "4");
  system.Link(uart + "00:00:0.0/driver", drivers + "serial-base/drivers/port");
  system.Link(uart + "00:00:0.0/subsystem", drivers + "serial-base");
  system.Link(uart + "driver", drivers + "pnp/drivers/serial");
  char16_t description[256];
  DescribePort(u"COM1", u"/dev/ttyS0", description, 256);
  EXPECT_EQ(std::u16string(description), u"driver serial");
}

using OwnTerminal = SerialTest;

// The terminal the process runs on is left out of the list, and still opens when named.
TEST_F(OwnTerminal, is_not_listed_but_opens_when_named) {
  int input = dup(STDIN_FILENO);
  dup2(line.slave, STDIN_FILENO);
  std::vector<std::string> whileOwn = DeviceNames();
  HANDLE port = OpenDevice(u"COM5");
  dup2(input, STDIN_FILENO);
  close(input);

  EXPECT_EQ(whileOwn, std::vector<std::string>{});
  EXPECT_NE(port, INVALID_HANDLE_VALUE);
  CloseHandle(port);
  EXPECT_EQ(DeviceNames(), std::vector<std::string>{"COM5"});
}

// Another program that has the tty open makes it in use and is named; this process, its
// children, and in a run on several ports its parent pentrel-cli and that one's children, do
// not; another child of a parent that is no pentrel-cli does.
TEST(LinuxPorts, open_in_another_program_are_in_use_and_name_it) {
  PtyPair line;
  long self = getpid(), parent = getppid();
  struct { long pid, parentPid; std::string program; bool inUse; } cases[] = {
      {812, 1, "ModemManager", true}, {self, parent, "tests", false}, {900, self, "tests", false},
      {901, parent, "pentrel-cli", false}, {903, parent, "cat", true}};
  for (const auto& c : cases) {
    FakeSystem system;
    system.Process(parent, 1, c.pid == 901 ? "pentrel-cli" : "bash", "");
    if (c.pid == 901) system.Process(self, parent, "pentrel-cli", "");
    system.Process(c.pid, c.parentPid, c.program, line.slavePath);
    HANDLE port = OpenDevice(ToU16(line.slavePath));
    DWORD error = GetLastError();
    CloseHandle(port);
    PortHolder holder{};
    std::u16string named = LastPortHolder(&holder) ? std::u16string(holder.device) + u" " +
                                                         holder.program + u" " +
                                                         ToU16(std::to_string(holder.pid))
                                                   : u"";
    std::string expected = line.slavePath + " " + c.program + " " + std::to_string(c.pid);
    EXPECT_EQ(named, c.inUse ? ToU16(expected) : u"") << c.pid;
    EXPECT_EQ(port == INVALID_HANDLE_VALUE && error == ERROR_ACCESS_DENIED, c.inUse) << c.pid;
  }
}

}  // namespace
