// Port descriptions on Linux: the USB device above the tty in sysfs.
#include "../port_description.h"

#include <libgen.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <cstdio>

#include "../text.h"

namespace {

constexpr size_t kAttributeBytes = 128;

// The first line of a sysfs attribute file; empty when it cannot be read.
void ReadAttribute(const char* folder, const char* attribute, char* value) {
  char path[PATH_MAX + 64];
  snprintf(path, sizeof path, "%s/%s", folder, attribute);
  value[0] = '\0';
  FILE* file = fopen(path, "r");
  if (file == nullptr) return;
  if (fgets(value, kAttributeBytes, file) == nullptr) value[0] = '\0';
  value[strcspn(value, "\n")] = '\0';
  fclose(file);
}

// The closest folder above the tty's device that holds a USB vendor id, into folder.
bool FindUsbDevice(const char* ttyName, char* folder) {
  char link[PATH_MAX];
  snprintf(link, sizeof link, "/sys/class/tty/%s/device", ttyName);
  if (realpath(link, folder) == nullptr) return false;
  for (char vendor[kAttributeBytes]; strcmp(folder, "/sys") > 0; *strrchr(folder, '/') = '\0') {
    ReadAttribute(folder, "idVendor", vendor);
    if (vendor[0] != '\0') return true;
  }
  return false;
}

}  // namespace

void DescribePort(const char16_t*, const char16_t* device, char16_t* description,
                  size_t capacity) {
  if (capacity > 0) description[0] = u'\0';
  char path[PATH_MAX], resolved[PATH_MAX], folder[PATH_MAX];
  if (!Utf16ToUtf8(device, path, sizeof path) || realpath(path, resolved) == nullptr) return;
  if (!FindUsbDevice(basename(resolved), folder)) return;
  const char* attributes[] = {"idVendor", "idProduct", "manufacturer", "product", "serial"};
  char values[5][kAttributeBytes];
  for (int i = 0; i < 5; i++) ReadAttribute(folder, attributes[i], values[i]);
  char text[6 * kAttributeBytes];
  snprintf(text, sizeof text, "USB %s:%s", values[0], values[1]);
  for (int i = 2; i < 5; i++) {
    if (values[i][0] == '\0') continue;
    strncat(text, " ", sizeof text - strlen(text) - 1);
    strncat(text, values[i], sizeof text - strlen(text) - 1);
  }
  Utf8ToUtf16(text, description, capacity);
}
