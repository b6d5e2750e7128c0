// What a HANDLE points to on POSIX: every object starts with this header, whose close procedure
// CloseHandle calls, and whose wait procedure WaitForSingleObject calls.
#pragma once

#include "win32_subset.h"

enum class HandleKind { Mutex, Thread, File };

struct HandleObject {
  HandleKind kind;
  // Releases the object; returns FALSE (with the last error set) when it cannot.
  BOOL (*close)(HandleObject* self);
  // Waits for the object; WAIT_FAILED with ERROR_INVALID_HANDLE for objects one cannot wait for.
  DWORD (*wait)(HandleObject* self, DWORD milliseconds);
};

// The object behind a handle of the given kind, or null (with ERROR_INVALID_HANDLE set).
HandleObject* HandleOf(HANDLE handle, HandleKind kind);

// Win32 error code for a POSIX errno value.
DWORD Win32ErrorFromErrno(int error);
