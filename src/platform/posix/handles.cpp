// Handle bookkeeping shared by every POSIX object: CloseHandle, WaitForSingleObject, last error.
#include "handle_object.h"

#include <cerrno>

static thread_local DWORD lastError = ERROR_SUCCESS;

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD error) { lastError = error; }

static bool IsUsable(HANDLE handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

HandleObject* HandleOf(HANDLE handle, HandleKind kind) {
  if (!IsUsable(handle) || static_cast<HandleObject*>(handle)->kind != kind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return static_cast<HandleObject*>(handle);
}

BOOL CloseHandle(HANDLE handle) {
  if (!IsUsable(handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  HandleObject* object = static_cast<HandleObject*>(handle);
  return object->close(object);
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  if (!IsUsable(handle) || static_cast<HandleObject*>(handle)->wait == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  HandleObject* object = static_cast<HandleObject*>(handle);
  return object->wait(object, milliseconds);
}

DWORD Win32ErrorFromErrno(int error) {
  switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: case ENXIO: case ENODEV: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: case ENAMETOOLONG: case ELOOP: return ERROR_PATH_NOT_FOUND;
    case EACCES: case EPERM: case EBUSY: case EWOULDBLOCK: case EISDIR: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOTTY: return ERROR_BAD_COMMAND;
    case ECANCELED: return ERROR_OPERATION_ABORTED;
    default: return ERROR_GEN_FAILURE;
  }
}
