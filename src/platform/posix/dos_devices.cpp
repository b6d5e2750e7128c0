// The DOS-device names on POSIX. They come from a folder of symlinks: $PENTREL_DOSDEVICES when it
// is set, otherwise ~/.pentrel/dosdevices when that folder exists. Without either, the serial
// ports the kernel shows are named as COM ports by their families (serial_ttys.h): /dev/ttyS<k>
// is COM<k+1>, /dev/ttyUSB<k> is COM<33+k>, /dev/ttyACM<k> is COM<65+k>, and so on.
#include "dos_devices.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <climits>
#include <cstring>

#include "../text.h"
#include "handle_object.h"
#include "own_terminals.h"
#include "serial_ttys.h"

namespace {

constexpr size_t kPathBytes = 4096;
constexpr char kDevicePrefix[] = "\\\\.\\";

// The serial ports one listing can hold; a machine with more lists the first it finds.
constexpr int kMaxSerialTtys = 512;

bool IsFolder(const char* path) {
  struct stat status;
  return stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

// The DOS-device folder into folder; false when the built-in list stands in for it.
bool DosDeviceFolder(char* folder, size_t capacity) {
  const char* configured = getenv("PENTREL_DOSDEVICES");
  if (configured != nullptr && configured[0] != '\0') {
    return snprintf(folder, capacity, "%s", configured) < static_cast<int>(capacity);
  }
  const char* home = getenv("HOME");
  if (home == nullptr || home[0] == '\0') return false;
  int length = snprintf(folder, capacity, "%s/.pentrel/dosdevices", home);
  return length < static_cast<int>(capacity) && IsFolder(folder);
}

// The serial tty that the name COM<n> stands for, as the built-in list names it.
bool BuiltInPath(const char* name, char* path, size_t capacity) {
  if (strncasecmp(name, "COM", 3) != 0 || name[3] < '1' || name[3] > '9') return false;
  char* end = nullptr;
  long number = strtol(name + 3, &end, 10);
  char tty[kTtyNameBytes];
  if (*end != '\0' || number > INT_MAX) return false;
  return TtyOfComNumber(static_cast<int>(number), tty, sizeof tty) && IsSerialTty(tty) &&
         snprintf(path, capacity, "/dev/%s", tty) < static_cast<int>(capacity);
}

// Names in the folder are matched exactly first and then regardless of ASCII case, as Windows
// matches device names (\\.\com5 opens COM5).
bool FolderEntry(const char* folder, const char* name, char* path, size_t capacity) {
  if (name[0] == '\0' || name[0] == '.' || strchr(name, '/') != nullptr) return false;
  struct stat status;
  if (snprintf(path, capacity, "%s/%s", folder, name) >= static_cast<int>(capacity)) return false;
  if (lstat(path, &status) == 0) return true;
  DIR* directory = opendir(folder);
  if (directory == nullptr) return false;
  bool found = false;
  while (dirent* entry = readdir(directory)) {
    if (strcasecmp(entry->d_name, name) == 0) {
      found = snprintf(path, capacity, "%s/%s", folder, entry->d_name) < static_cast<int>(capacity);
      break;
    }
  }
  closedir(directory);
  return found;
}

// Appends one terminated name to the multi-string list; false when it does not fit.
bool AppendName(const char* name, LPWSTR list, DWORD max, DWORD& used) {
  char16_t wide[kPathBytes];
  if (!Utf8ToUtf16(name, wide, kPathBytes)) return false;
  size_t length = TextLength(wide);
  if (used + length + 1 > max) return false;
  for (size_t i = 0; i <= length; i++) list[used + i] = wide[i];
  used += static_cast<DWORD>(length + 1);
  return true;
}

enum class Listing { Fits, TooSmall, Failed };

// Lists the folder's names in its own order, each terminated; hidden entries are not devices, and
// the console and this process's own terminal are not offered.
Listing ListFolder(const char* folder, LPWSTR list, DWORD max, DWORD& used) {
  DIR* directory = opendir(folder);
  if (directory == nullptr) {
    SetLastError(Win32ErrorFromErrno(errno));
    return Listing::Failed;
  }
  Listing result = Listing::Fits;
  while (dirent* entry = readdir(directory)) {
    char path[kPathBytes];
    if (entry->d_name[0] == '.') continue;
    bool fits = snprintf(path, sizeof path, "%s/%s", folder, entry->d_name) < int{sizeof path};
    if (fits && IsConsoleOrOwnTerminal(path)) continue;
    if (!AppendName(entry->d_name, list, max, used)) {
      result = Listing::TooSmall;
      break;
    }
  }
  closedir(directory);
  return result;
}

// The serial ttys present under their COM names, or by path where no COM number fits them,
// without the console and this process's own terminal.
Listing ListBuiltIn(LPWSTR list, DWORD max, DWORD& used) {
  static char ttys[kMaxSerialTtys][kTtyNameBytes];
  int count = ListSerialTtys(ttys, kMaxSerialTtys);
  for (int i = 0; i < count; i++) {
    char path[kTtyNameBytes + 8], name[kTtyNameBytes + 8];
    if (snprintf(path, sizeof path, "/dev/%s", ttys[i]) >= int{sizeof path}) continue;
    if (IsConsoleOrOwnTerminal(path)) continue;
    int number = ComNumberOf(ttys[i]);
    if (number != 0) snprintf(name, sizeof name, "COM%d", number);
    if (!AppendName(number != 0 ? name : path, list, max, used)) return Listing::TooSmall;
  }
  return Listing::Fits;
}

// Every DOS-device name, each terminated, and an empty name at the end (the Win32 contract).
DWORD ListDevices(LPWSTR list, DWORD max) {
  char folder[kPathBytes];
  DWORD used = 0;
  Listing listing = DosDeviceFolder(folder, sizeof folder) ? ListFolder(folder, list, max, used)
                                                           : ListBuiltIn(list, max, used);
  if (listing == Listing::Failed) return 0;
  if (listing == Listing::TooSmall || used + 1 > max) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  list[used++] = u'\0';
  return used;
}

// Where the device name (without the "\\.\" prefix) leads.
// A name that is a path (as the built-in list gives a port without a COM number) is that path.
bool LookUpDevice(const char* name, char* path, size_t capacity) {
  char folder[kPathBytes];
  if (name[0] == '/') return snprintf(path, capacity, "%s", name) < static_cast<int>(capacity);
  if (DosDeviceFolder(folder, sizeof folder)) return FolderEntry(folder, name, path, capacity);
  return BuiltInPath(name, path, capacity);
}

// Stores one target path as a multi-string (the path, its terminator and one more).
DWORD StoreTarget(const char* target, LPWSTR list, DWORD max) {
  DWORD used = 0;
  if (!AppendName(target, list, max, used) || used + 1 > max) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  list[used++] = u'\0';
  return used;
}

}  // namespace

DWORD ResolveDevicePath(LPCWSTR name, char* path, size_t capacity) {
  char utf8[kPathBytes];
  if (name == nullptr || !Utf16ToUtf8(name, utf8, sizeof utf8)) return ERROR_INVALID_PARAMETER;
  size_t prefix = strlen(kDevicePrefix);
  if (strncmp(utf8, kDevicePrefix, prefix) != 0 || utf8[prefix] == '/') {
    const char* plain = strncmp(utf8, kDevicePrefix, prefix) == 0 ? utf8 + prefix : utf8;
    return snprintf(path, capacity, "%s", plain) < static_cast<int>(capacity)
               ? ERROR_SUCCESS : ERROR_PATH_NOT_FOUND;
  }
  return LookUpDevice(utf8 + prefix, path, capacity) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

DWORD QueryDosDeviceW(LPCWSTR deviceName, LPWSTR targetPath, DWORD max) {
  if (deviceName == nullptr) return ListDevices(targetPath, max);
  char name[kPathBytes], path[kPathBytes], target[kPathBytes];
  if (!Utf16ToUtf8(deviceName, name, sizeof name) || !LookUpDevice(name, path, sizeof path)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  ssize_t length = readlink(path, target, sizeof target - 1);
  if (length < 0) return StoreTarget(path, targetPath, max);
  target[length] = '\0';
  return StoreTarget(target, targetPath, max);
}
