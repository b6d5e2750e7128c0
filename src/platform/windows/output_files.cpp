// The console's output files on Windows: wide paths, MoveFileExW, and FILE_APPEND_DATA for records.
#include "../output_files.h"

#include "../text.h"

FILE* OpenFileForWriting(const char16_t* path) { return _wfopen(Win32Text(path), L"wb"); }

bool MoveFileOver(const char16_t* from, const char16_t* to) {
  return MoveFileExW(Win32Text(from), Win32Text(to), MOVEFILE_REPLACE_EXISTING) != 0;
}

void DeleteFileAt(const char16_t* path) { DeleteFileW(Win32Text(path)); }

bool AppendToFile(const char16_t* path, const char* bytes, size_t count) {
  // Append-only access puts every write at the end of the file as it is then, atomically.
  HANDLE file = CreateFileW(Win32Text(path), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL whole = WriteFile(file, bytes, static_cast<DWORD>(count), &written, nullptr);
  return CloseHandle(file) && whole && written == count;
}

void HostName(char* name, size_t capacity) {
  if (capacity == 0) return;
  char16_t wide[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(Win32Text(wide), &length) || !Utf16ToUtf8(wide, name, capacity)) {
    name[0] = '\0';
  }
}
