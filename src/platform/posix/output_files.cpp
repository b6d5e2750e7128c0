// The console's output files on POSIX: UTF-8 paths, rename(2), and O_APPEND for records.
#include "../output_files.h"

#include <fcntl.h>
#include <unistd.h>

#include "../text.h"

namespace {

// A 260-unit path is at most 3 bytes per unit in UTF-8.
struct Utf8Path {
  char bytes[260 * 3 + 1];
  explicit Utf8Path(const char16_t* path) {
    if (!Utf16ToUtf8(path, bytes, sizeof bytes)) bytes[0] = '\0';
  }
};

}  // namespace

FILE* OpenFileForWriting(const char16_t* path) {
  Utf8Path name(path);
  return name.bytes[0] == '\0' ? nullptr : fopen(name.bytes, "wb");
}

bool MoveFileOver(const char16_t* from, const char16_t* to) {
  return rename(Utf8Path(from).bytes, Utf8Path(to).bytes) == 0;
}

void DeleteFileAt(const char16_t* path) { unlink(Utf8Path(path).bytes); }

bool AppendToFile(const char16_t* path, const char* bytes, size_t count) {
  int file = open(Utf8Path(path).bytes, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (file < 0) return false;
  bool whole = write(file, bytes, count) == static_cast<ssize_t>(count);
  return close(file) == 0 && whole;
}

void HostName(char* name, size_t capacity) {
  if (capacity == 0) return;
  if (gethostname(name, capacity) != 0) name[0] = '\0';
  name[capacity - 1] = '\0';
}
