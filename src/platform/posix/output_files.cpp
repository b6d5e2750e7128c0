// The console's output files on POSIX: UTF-8 paths, O_EXCL | O_NOFOLLOW for the temporary file,
// fsync before and after rename(2), and O_APPEND for records.
#include "../output_files.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "../text.h"

namespace {

constexpr size_t kUtf8PathBytes = (260 + kTemporaryNameLength) * 3 + 1;

// A path of up to 260 units, or a temporary name beside one, in UTF-8: at most 3 bytes a unit.
struct Utf8Path {
  char bytes[kUtf8PathBytes];
  explicit Utf8Path(const char16_t* path) {
    if (!Utf16ToUtf8(path, bytes, sizeof bytes)) bytes[0] = '\0';
  }
};

// Bytes of path before its last component: its folder with the slash, or nothing.
size_t FolderLength(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash == nullptr ? 0 : static_cast<size_t>(slash - path) + 1;
}

// Puts what was written to the file on the disk. A file that cannot be synced (EINVAL: a pipe, a
// terminal, a device such as /dev/stderr given as the record file) has no disk to wait for.
bool Synced(int fd) { return fsync(fd) == 0 || errno == EINVAL; }

// Makes a new name in a folder durable: the folder's own entry list goes to the disk. A file
// system that cannot sync a folder keeps its entries its own way.
bool SyncFolderOf(const char* path) {
  char folder[kUtf8PathBytes];
  size_t length = FolderLength(path);
  std::memcpy(folder, path, length);
  std::strcpy(folder + length, ".");
  int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool synced = Synced(fd);
  return close(fd) == 0 && synced;
}

// ".pentrel-" + 16 hex digits from the system's random source + ".part".
bool RandomName(char* name) {
  uint8_t random[8];
  if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return false;
  static const char kDigits[] = "0123456789abcdef";
  char* at = std::strcpy(name, ".pentrel-") + 9;
  for (uint8_t byte : random) {
    *at++ = kDigits[byte >> 4];
    *at++ = kDigits[byte & 15];
  }
  std::strcpy(at, ".part");
  return true;
}

}  // namespace

bool OutputNameFits(const char16_t* path) {
  Utf8Path name(path);
  return name.bytes[0] != '\0' && std::strlen(name.bytes + FolderLength(name.bytes)) <= NAME_MAX;
}

FILE* CreateFileBeside(const char16_t* path, char16_t* temporary, size_t capacity) {
  Utf8Path target(path);
  if (target.bytes[0] == '\0') return nullptr;
  char created[kUtf8PathBytes];
  size_t folder = FolderLength(target.bytes);
  std::memcpy(created, target.bytes, folder);
  // Another file may hold a name drawn by chance; a few draws make that all but impossible.
  for (int attempt = 0; attempt < 8; attempt++) {
    if (!RandomName(created + folder)) return nullptr;
    int fd = open(created, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return nullptr;
    FILE* file = fdopen(fd, "wb");
    if (file != nullptr && Utf8ToUtf16(created, temporary, capacity)) return file;
    if (file != nullptr) {
      fclose(file);
    } else {
      close(fd);
    }
    unlink(created);
    return nullptr;
  }
  return nullptr;
}

bool CloseDurably(FILE* file) {
  bool synced = fflush(file) == 0 && fsync(fileno(file)) == 0;
  return fclose(file) == 0 && synced;
}

bool MoveFileOver(const char16_t* from, const char16_t* to) {
  Utf8Path target(to);
  return rename(Utf8Path(from).bytes, target.bytes) == 0 && SyncFolderOf(target.bytes);
}

void DeleteFileAt(const char16_t* path) { unlink(Utf8Path(path).bytes); }

bool CanAppendTo(const char16_t* path) {
  Utf8Path name(path);
  int file = open(name.bytes, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (file < 0) return false;
  // The file may be new: its name must be on the disk before records are trusted to it.
  bool durable = Synced(file) && SyncFolderOf(name.bytes);
  return close(file) == 0 && durable;
}

bool AppendToFile(const char16_t* path, const char* bytes, size_t count) {
  int file = open(Utf8Path(path).bytes, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (file < 0) return false;
  bool whole = write(file, bytes, count) == static_cast<ssize_t>(count) && Synced(file);
  return close(file) == 0 && whole;
}

void HostName(char* name, size_t capacity) {
  if (capacity == 0) return;
  if (gethostname(name, capacity) != 0) name[0] = '\0';
  name[capacity - 1] = '\0';
}
