// The platform seam: the Win32 calls and types the core is written against. On Windows this is
// <windows.h>; on POSIX it is our own implementation of exactly that subset.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include "posix/win32_subset.h"
#endif
