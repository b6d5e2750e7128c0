// EscapeCommFunction on POSIX: DTR and RTS raised and lowered by hand. A tty without modem
// lines (a pseudo-terminal, a driver without modem control) refuses, and so does this.
#include <sys/ioctl.h>

#include <cerrno>

#include "open_ports.h"
#include "serial_file.h"

BOOL EscapeCommFunction(HANDLE handle, DWORD function) {
  SerialFile* file = SerialFileOf(handle);
  if (file == nullptr) return FALSE;
  int line = function == SETDTR || function == CLRDTR ? TIOCM_DTR : TIOCM_RTS;
  unsigned long request = function == SETDTR || function == SETRTS ? TIOCMBIS : TIOCMBIC;
  if (function < SETRTS || function > CLRDTR) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // A process that is ending puts its ports back; nothing may change them after that.
  if (!BeginSettingsChange()) {
    SetLastError(Win32ErrorFromErrno(ECANCELED));
    return FALSE;
  }
  int error = ioctl(file->fd, request, &line) == 0 ? 0 : errno;
  EndSettingsChange();
  if (error != 0) SetLastError(Win32ErrorFromErrno(error));
  return error == 0;
}
