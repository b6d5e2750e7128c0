// The DOS-device names on POSIX. They come from a folder of symlinks: $PENTREL_DOSDEVICES when it
// is set, otherwise ~/.pentrel/dosdevices when that folder exists. Without either, the serial
// devices present under /dev are named as COM ports: /dev/ttyS<k> is COM<k+1>, /dev/ttyUSB<k> is
// COM<33+k> and /dev/ttyACM<k> is COM<65+k> (k from 0 to 31).
#include "dos_devices.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <cstring>

#include "../text.h"
#include "handle_object.h"

namespace {

constexpr size_t kPathBytes = 4096;
constexpr char kDevicePrefix[] = "\\\\.\\";

struct BuiltInFamily {
  const char* prefix;  // the device path without its number
  int firstCom;        // the COM number of device 0
};
constexpr BuiltInFamily kFamilies[] = {
    {"/dev/ttyS", 1}, {"/dev/ttyUSB", 33}, {"/dev/ttyACM", 65}};
constexpr int kDevicesPerFamily = 32;

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

// The built-in device that the name COM<n> stands for, if n falls in one of the families.
bool BuiltInPath(const char* name, char* path, size_t capacity) {
  if (strncasecmp(name, "COM", 3) != 0 || name[3] < '1' || name[3] > '9') return false;
  char* end = nullptr;
  long number = strtol(name + 3, &end, 10);
  if (*end != '\0') return false;
  for (const BuiltInFamily& family : kFamilies) {
    long index = number - family.firstCom;
    if (index >= 0 && index < kDevicesPerFamily) {
      return snprintf(path, capacity, "%s%ld", family.prefix, index) < static_cast<int>(capacity);
    }
  }
  return false;
}

bool IsCharacterDevice(const char* path) {
  struct stat status;
  return stat(path, &status) == 0 && S_ISCHR(status.st_mode);
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

// Lists the folder's names in its own order, each terminated; hidden entries are not devices.
Listing ListFolder(const char* folder, LPWSTR list, DWORD max, DWORD& used) {
  DIR* directory = opendir(folder);
  if (directory == nullptr) {
    SetLastError(Win32ErrorFromErrno(errno));
    return Listing::Failed;
  }
  Listing result = Listing::Fits;
  while (dirent* entry = readdir(directory)) {
    if (entry->d_name[0] == '.') continue;
    if (!AppendName(entry->d_name, list, max, used)) {
      result = Listing::TooSmall;
      break;
    }
  }
  closedir(directory);
  return result;
}

Listing ListBuiltIn(LPWSTR list, DWORD max, DWORD& used) {
  for (const BuiltInFamily& family : kFamilies) {
    for (int index = 0; index < kDevicesPerFamily; index++) {
      char path[64], name[16];
      snprintf(path, sizeof path, "%s%d", family.prefix, index);
      if (!IsCharacterDevice(path)) continue;
      snprintf(name, sizeof name, "COM%d", family.firstCom + index);
      if (!AppendName(name, list, max, used)) return Listing::TooSmall;
    }
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
bool LookUpDevice(const char* name, char* path, size_t capacity) {
  char folder[kPathBytes];
  if (DosDeviceFolder(folder, sizeof folder)) return FolderEntry(folder, name, path, capacity);
  return BuiltInPath(name, path, capacity) && IsCharacterDevice(path);
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
