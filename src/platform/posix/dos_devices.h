// Where a device name such as COM5 leads on POSIX: the DOS-device folder (a folder of symlinks
// such as COM5 -> /dev/pts/3) or, without one, the serial ports the kernel shows.
#pragma once

#include <cstddef>

#include "win32_subset.h"

// Resolves a CreateFileW name to a POSIX path. "\\.\NAME" gives NAME itself when it is absolute,
// otherwise what NAME stands for among the DOS devices; any other name is taken as a path.
// Returns ERROR_SUCCESS, or the Win32 error to report (ERROR_FILE_NOT_FOUND for an unknown name).
DWORD ResolveDevicePath(LPCWSTR name, char* path, size_t capacity);
