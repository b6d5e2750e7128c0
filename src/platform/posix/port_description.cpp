// Port descriptions on Linux: what sysfs tells about the tty, the USB device above it and the
// driver that runs it.
#include "../port_description.h"

#include <libgen.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <cstdio>

#include "../text.h"
#include "system_root.h"

namespace {

constexpr size_t kAttributeBytes = 128;

// The first line of a sysfs attribute file in a resolved folder; empty when it cannot be read.
void ReadAttribute(const char* folder, const char* attribute, char* value) {
  char path[PATH_MAX + 64];
  snprintf(path, sizeof path, "%s/%s", folder, attribute);
  value[0] = '\0';
  FILE* file = fopen(path, "re");
  if (file == nullptr) return;
  if (fgets(value, kAttributeBytes, file) == nullptr) value[0] = '\0';
  value[strcspn(value, "\n")] = '\0';
  fclose(file);
}

// The last component of what the link in the folder points at; empty when there is no link.
void LinkName(const char* folder, const char* link, char* name) {
  char path[PATH_MAX + 64], target[PATH_MAX];
  snprintf(path, sizeof path, "%s/%s", folder, link);
  ssize_t length = readlink(path, target, sizeof target - 1);
  target[length > 0 ? length : 0] = '\0';
  const char* last = strrchr(target, '/');
  const char* text = last != nullptr ? last + 1 : target;
  if (snprintf(name, kAttributeBytes, "%s", text) < 0) name[0] = '\0';
}

// The device folder of each level above the tty's device in turn, up to /sys: folder is cut
// back by one component a call; false at the top.
bool Up(char* folder, const char* top) {
  char* slash = strrchr(folder, '/');
  if (slash == nullptr || strcmp(folder, top) <= 0) return false;
  *slash = '\0';
  return strcmp(folder, top) > 0;
}

// The USB device's "USB vendor:product manufacturer product serial"; empty when there is none.
void UsbDetails(char* folder, const char* top, char* text, size_t capacity) {
  text[0] = '\0';
  char values[5][kAttributeBytes];
  do {
    ReadAttribute(folder, "idVendor", values[0]);
  } while (values[0][0] == '\0' && Up(folder, top));
  if (values[0][0] == '\0') return;
  const char* attributes[] = {"idVendor", "idProduct", "manufacturer", "product", "serial"};
  for (int i = 1; i < 5; i++) ReadAttribute(folder, attributes[i], values[i]);
  snprintf(text, capacity, "USB %s:%s", values[0], values[1]);
  for (int i = 2; i < 5; i++) {
    if (values[i][0] == '\0') continue;
    strncat(text, " ", capacity - strlen(text) - 1);
    strncat(text, values[i], capacity - strlen(text) - 1);
  }
}

// The driver that brought the port: the serial core's own port devices (bus serial-base) are
// passed over for the device they belong to.
void DriverOf(char* folder, const char* top, char* driver) {
  do {
    char bus[kAttributeBytes];
    LinkName(folder, "subsystem", bus);
    LinkName(folder, "driver", driver);
    if (driver[0] != '\0' && strcmp(bus, "serial-base") != 0) return;
  } while (Up(folder, top));
  driver[0] = '\0';
}

}  // namespace

void DescribePort(const char16_t*, const char16_t* device, char16_t* description,
                  size_t capacity) {
  if (capacity > 0) description[0] = u'\0';
  char path[PATH_MAX], resolved[PATH_MAX], link[PATH_MAX], folder[PATH_MAX], top[PATH_MAX];
  if (!Utf16ToUtf8(device, path, sizeof path)) return;
  if (realpath(path, resolved) == nullptr) snprintf(resolved, sizeof resolved, "%s", path);
  if (!SystemPath(link, sizeof link, "/sys/class/tty/%s/device", basename(resolved)) ||
      !SystemPath(path, sizeof path, "/sys") || realpath(path, top) == nullptr ||
      realpath(link, folder) == nullptr) {
    return;
  }
  char usb[6 * kAttributeBytes], driver[kAttributeBytes], text[8 * kAttributeBytes];
  snprintf(path, sizeof path, "%s", folder);
  UsbDetails(path, top, usb, sizeof usb);
  DriverOf(folder, top, driver);
  const char* separator = usb[0] != '\0' && driver[0] != '\0' ? ", " : "";
  snprintf(text, sizeof text, "%s%s%s%s", usb, separator, driver[0] != '\0' ? "driver " : "",
           driver);
  Utf8ToUtf16(text, description, capacity);
}
