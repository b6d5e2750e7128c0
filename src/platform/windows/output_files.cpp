// The console's output files on Windows: wide paths, CREATE_NEW for the temporary file,
// FlushFileBuffers and MoveFileExW with MOVEFILE_WRITE_THROUGH, and FILE_APPEND_DATA for records.
#include "../output_files.h"

// <bcrypt.h> needs <windows.h> before it.
#include "../text.h"
#include <bcrypt.h>
#include <fcntl.h>
#include <io.h>

namespace {

// Units of path before its last component: its folder with the separator, or nothing.
size_t FolderLength(const char16_t* path) {
  size_t folder = 0;
  for (size_t i = 0; path[i] != u'\0'; i++) {
    if (path[i] == u'\\' || path[i] == u'/' || path[i] == u':') folder = i + 1;
  }
  return folder;
}

// ".pentrel-" + 16 hex digits from the system's random source + ".part".
bool RandomName(char16_t* name) {
  UCHAR random[8];
  if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, random, sizeof random,
                                      BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    return false;
  }
  static const char16_t kDigits[] = u"0123456789abcdef";
  char16_t* at = name + TextCopy(name, 10, u".pentrel-");
  for (UCHAR byte : random) {
    *at++ = kDigits[byte >> 4];
    *at++ = kDigits[byte & 15];
  }
  TextCopy(at, 6, u".part");
  return true;
}

bool Flushed(HANDLE file, bool written) {
  bool flushed = written && FlushFileBuffers(file);
  return CloseHandle(file) && flushed;
}

// Append-only access puts every write at the end of the file as it is then, atomically.
HANDLE OpenForAppending(const char16_t* path) {
  return CreateFileW(Win32Text(path), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

bool OutputNameFits(const char16_t* path) {
  size_t folder = FolderLength(path);
  return TextLength(path) - folder <= 255 && folder + kTemporaryNameLength < MAX_PATH;
}

FILE* CreateFileBeside(const char16_t* path, char16_t* temporary, size_t capacity) {
  size_t folder = FolderLength(path);
  if (folder + kTemporaryNameLength >= capacity) return nullptr;
  TextCopy(temporary, folder + 1, path);
  // Another file may hold a name drawn by chance; a few draws make that all but impossible.
  for (int attempt = 0; attempt < 8; attempt++) {
    if (!RandomName(temporary + folder)) return nullptr;
    HANDLE file = CreateFileW(Win32Text(temporary), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) continue;
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
    FILE* stream = fd < 0 ? nullptr : _fdopen(fd, "wb");
    if (stream != nullptr) return stream;
    if (fd < 0) {
      CloseHandle(file);
    } else {
      _close(fd);
    }
    DeleteFileW(Win32Text(temporary));
    return nullptr;
  }
  return nullptr;
}

bool CloseDurably(FILE* file) {
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  bool flushed = fflush(file) == 0 && FlushFileBuffers(handle);
  return fclose(file) == 0 && flushed;
}

bool MoveFileOver(const char16_t* from, const char16_t* to) {
  return MoveFileExW(Win32Text(from), Win32Text(to),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void DeleteFileAt(const char16_t* path) { DeleteFileW(Win32Text(path)); }

bool CanAppendTo(const char16_t* path) {
  HANDLE file = OpenForAppending(path);
  return file != INVALID_HANDLE_VALUE && Flushed(file, true);
}

bool AppendToFile(const char16_t* path, const char* bytes, size_t count) {
  HANDLE file = OpenForAppending(path);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL whole = WriteFile(file, bytes, static_cast<DWORD>(count), &written, nullptr);
  return Flushed(file, whole && written == count);
}

void HostName(char* name, size_t capacity) {
  if (capacity == 0) return;
  char16_t wide[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(Win32Text(wide), &length) || !Utf16ToUtf8(wide, name, capacity)) {
    name[0] = '\0';
  }
}
