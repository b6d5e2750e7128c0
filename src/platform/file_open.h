// Opening a file named by a UTF-16 path for reading bytes: UTF-8 names on POSIX, _wfopen on
// Windows. A directory is refused on both, as Windows refuses it.
#pragma once

#include <cstdio>

// The open stream in binary mode, or null when the path cannot be opened as a file.
FILE* OpenFileForReading(const char16_t* path);
