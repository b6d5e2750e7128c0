// Paths below the system root, and reading one-line files there (sysfs attributes, /proc files).
#include "system_root.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool RootedPath(char* path, size_t capacity, const char* format, va_list arguments) {
  const char* root = getenv("PENTREL_SYSTEM_ROOT");
  int prefix = snprintf(path, capacity, "%s", root != nullptr ? root : "");
  if (prefix < 0 || static_cast<size_t>(prefix) >= capacity) return false;
  int rest = vsnprintf(path + prefix, capacity - prefix, format, arguments);
  return rest >= 0 && static_cast<size_t>(rest) < capacity - prefix;
}

}  // namespace

bool SystemPath(char* path, size_t capacity, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  bool fits = RootedPath(path, capacity, format, arguments);
  va_end(arguments);
  return fits;
}

bool ReadSystemLine(char* value, size_t capacity, const char* format, ...) {
  char path[4096];
  va_list arguments;
  va_start(arguments, format);
  bool fits = RootedPath(path, sizeof path, format, arguments);
  va_end(arguments);
  value[0] = '\0';
  FILE* file = fits ? fopen(path, "re") : nullptr;
  if (file == nullptr) return false;
  bool read = fgets(value, static_cast<int>(capacity), file) != nullptr;
  fclose(file);
  if (!read) value[0] = '\0';
  value[strcspn(value, "\n")] = '\0';
  return read;
}

bool ReadProcessStat(long pid, long* parent, unsigned* terminal) {
  char line[1024];
  if (!ReadSystemLine(line, sizeof line, "/proc/%ld/stat", pid)) return false;
  // The command name in parentheses may hold spaces and parentheses of its own.
  const char* rest = strrchr(line, ')');
  char state;
  long group, session;
  return rest != nullptr &&
         sscanf(rest + 1, " %c %ld %ld %ld %u", &state, parent, &group, &session, terminal) == 5;
}
