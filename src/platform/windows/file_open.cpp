// Opening a file by UTF-16 path on Windows, with _wfopen.
#include "../file_open.h"

#include "../text.h"

FILE* OpenFileForReading(const char16_t* path) {
  return _wfopen(Win32Text(path), L"rb");
}
