// Opening a file by UTF-16 path on POSIX: the path reaches the OS as UTF-8.
#include "../file_open.h"

#include <sys/stat.h>

#include "../text.h"

FILE* OpenFileForReading(const char16_t* path) {
  // A 260-unit path is at most 3 bytes per unit in UTF-8 (a surrogate pair gives 4 for 2).
  char name[260 * 3 + 1];
  if (!Utf16ToUtf8(path, name, sizeof name) || name[0] == '\0') return nullptr;
  FILE* file = fopen(name, "rb");
  if (file == nullptr) return nullptr;
  struct stat status;
  if (fstat(fileno(file), &status) != 0 || S_ISDIR(status.st_mode)) {
    fclose(file);
    return nullptr;
  }
  return file;
}
