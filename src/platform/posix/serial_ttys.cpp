// Serial ttys on Linux. Every tty with a device behind it in sysfs is a serial port, except that
// UART drivers (the 8250 family above all) keep a node for every UART they might drive: those
// whose UART type is unknown (0) have nothing behind them. Families of tty names each have a
// range of 32 COM numbers; a family's devices from 32 on have numbers of their own above 1000.
#include "serial_ttys.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "system_root.h"

namespace {

struct Family {
  const char* prefix;  // the name without its number
  int firstCom;        // the COM number of device 0
};
// The first three keep the numbers users have had from the start; new families go at the end.
constexpr Family kFamilies[] = {
    {"ttyS", 1},     {"ttyUSB", 33},  {"ttyACM", 65},  {"ttyAMA", 97},
    {"ttyXRUSB", 129}, {"ttySC", 161}, {"ttymxc", 193}, {"ttyTHS", 225},
    {"rfcomm", 257}, {"ttyO", 289},   {"ttySAC", 321}, {"ttyPS", 353}};
constexpr int kFamilyCount = sizeof kFamilies / sizeof kFamilies[0];
constexpr int kRangeSize = 32;
// Device k >= 32 of family i is COM<(i + 1) * 1000 + k>, for k up to 999.
constexpr int kHighBand = 1000;

// The family index of a tty name and its device number into index; -1 when none fits. The
// number is plain decimal (no sign, no leading zero) so that it gives the same name back.
int FamilyOf(const char* tty, int* index) {
  for (int family = 0; family < kFamilyCount; family++) {
    size_t length = strlen(kFamilies[family].prefix);
    if (strncmp(tty, kFamilies[family].prefix, length) != 0) continue;
    const char* digits = tty + length;
    size_t count = strspn(digits, "0123456789");
    if (count == 0 || count > 3 || digits[count] != '\0' || (digits[0] == '0' && count > 1)) {
      continue;
    }
    *index = atoi(digits);
    return family;
  }
  return -1;
}

bool HasSysfsClass() {
  char path[4096];
  struct stat status;
  return SystemPath(path, sizeof path, "/sys/class/tty") && stat(path, &status) == 0 &&
         S_ISDIR(status.st_mode);
}

// The UART type that the driver reports for the device node; PORT_UNKNOWN when it cannot tell.
int UartTypeOfNode(const char* tty) {
  char path[kTtyNameBytes + 8];
  snprintf(path, sizeof path, "/dev/%s", tty);
  int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return PORT_UNKNOWN;
  serial_struct info{};
  int type = ioctl(fd, TIOCGSERIAL, &info) == 0 ? info.type : PORT_UNKNOWN;
  close(fd);
  return type;
}

// sysfs tells the UART type of every port of a UART driver; an 8250-family node without that
// attribute is asked itself.
bool UartKnown(const char* tty) {
  char type[16];
  if (ReadSystemLine(type, sizeof type, "/sys/class/tty/%s/type", tty)) return atoi(type) != 0;
  int index;
  return FamilyOf(tty, &index) != 0 || UartTypeOfNode(tty) != PORT_UNKNOWN;
}

bool IsCharacterDevice(const char* tty) {
  char path[kTtyNameBytes + 8];
  struct stat status;
  snprintf(path, sizeof path, "/dev/%s", tty);
  return stat(path, &status) == 0 && S_ISCHR(status.st_mode);
}

// Without sysfs, only the device nodes of the known families can be told for serial ports.
bool HasDevice(const char* tty) {
  char path[4096];
  struct stat status;
  int index;
  if (!HasSysfsClass()) return FamilyOf(tty, &index) >= 0 && IsCharacterDevice(tty);
  return SystemPath(path, sizeof path, "/sys/class/tty/%s/device", tty) &&
         lstat(path, &status) == 0;
}

int ByComNumber(const void* a, const void* b) {
  const char* first = static_cast<const char*>(a);
  const char* second = static_cast<const char*>(b);
  // Those without a number come last: as unsigned, 0 - 1 is the largest.
  unsigned one = static_cast<unsigned>(ComNumberOf(first)) - 1;
  unsigned other = static_cast<unsigned>(ComNumberOf(second)) - 1;
  if (one != other) return one < other ? -1 : 1;
  return strcmp(first, second);
}

}  // namespace

int ComNumberOf(const char* tty) {
  int index;
  int family = FamilyOf(tty, &index);
  if (family < 0) return 0;
  return index < kRangeSize ? kFamilies[family].firstCom + index : (family + 1) * kHighBand + index;
}

bool TtyOfComNumber(int number, char* tty, size_t capacity) {
  int family = -1, index = number % kHighBand;
  if (number >= kHighBand) {
    if (index >= kRangeSize) family = number / kHighBand - 1;
  } else {
    for (int i = 0; i < kFamilyCount; i++) {
      if (number >= kFamilies[i].firstCom && number < kFamilies[i].firstCom + kRangeSize) {
        family = i;
        index = number - kFamilies[i].firstCom;
      }
    }
  }
  if (family < 0 || family >= kFamilyCount) return false;
  return snprintf(tty, capacity, "%s%d", kFamilies[family].prefix, index) <
         static_cast<int>(capacity);
}

bool IsSerialTty(const char* tty) {
  if (tty[0] == '\0' || tty[0] == '.' || strchr(tty, '/') != nullptr) return false;
  return HasDevice(tty) && UartKnown(tty);
}

int ListSerialTtys(char (*ttys)[kTtyNameBytes], int capacity) {
  char folder[4096];
  DIR* directory = nullptr;
  if (HasSysfsClass() && SystemPath(folder, sizeof folder, "/sys/class/tty")) {
    directory = opendir(folder);
  } else {
    directory = opendir("/dev");
  }
  if (directory == nullptr) return 0;
  int count = 0;
  while (dirent* entry = readdir(directory)) {
    if (count == capacity) break;
    size_t length = strlen(entry->d_name);
    if (length >= kTtyNameBytes || !IsSerialTty(entry->d_name)) continue;
    memcpy(ttys[count++], entry->d_name, length + 1);
  }
  closedir(directory);
  qsort(ttys, count, kTtyNameBytes, ByComNumber);
  return count;
}
