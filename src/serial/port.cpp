// Opening a COM port for the bootloader's line settings and putting it back as it was.
#include "serial/port.h"

#include "log/message_log.h"
#include "platform/port_settings.h"
#include "platform/text.h"
#include "settings/settings.h"

namespace {

// The low 15 bits of the DCB flag word as the bootloader's line wants them: binary, no parity
// check, no CTS/DSR flow, DTR on, continue on XOFF, no XON/XOFF, no error or null handling,
// RTS on, no abort on error. The upper 17 bits (reserved) stay as the port had them.
void ApplyLineSettings(DCB& dcb) {
  dcb.BaudRate = 57600;
  dcb.fBinary = 1;
  dcb.fParity = 0;
  dcb.fOutxCtsFlow = 0;
  dcb.fOutxDsrFlow = 0;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = 0;
  dcb.fTXContinueOnXoff = 1;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  dcb.fErrorChar = 0;
  dcb.fNull = 0;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fAbortOnError = 0;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
}

// A read of 40 bytes returns within 40 × 1 + 60 = 100 ms with whatever came, a write of k bytes
// within k + 10 ms. Only in the fast reply mode does a read also end once the line has gone quiet
// after its first byte; a read that receives nothing lasts its 100 ms either way.
COMMTIMEOUTS BootloaderTimeouts() {
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = FastReplies ? kFastReplyInterval : 0;
  timeouts.ReadTotalTimeoutMultiplier = 1;
  timeouts.ReadTotalTimeoutConstant = 60;
  timeouts.WriteTotalTimeoutMultiplier = 1;
  timeouts.WriteTotalTimeoutConstant = 10;
  return timeouts;
}

HANDLE GiveUp(HANDLE port, const char16_t* format, const char16_t* name) {
  LogMessage(format, name, static_cast<int32_t>(GetLastError()));
  CloseHandle(port);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

void BuildPortPath(char16_t (&path)[kPathCapacity], const char16_t* name) {
  FormatBounded(path, kPathCapacity, u"\\\\.\\%s", name);
}

HANDLE OpenPort(const char16_t* name, DCB* savedState, COMMTIMEOUTS* savedTimeouts) {
  char16_t path[kPathCapacity];
  BuildPortPath(path, name);
  HANDLE port = CreateFileW(Win32Text(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    LogMessage(u"Unable to open %s (%d)", name, static_cast<int32_t>(GetLastError()));
    return INVALID_HANDLE_VALUE;
  }
  // Win32 asks for the length to be set; fields it leaves alone then read as zero, not garbage.
  DCB state{};
  state.DCBlength = sizeof(DCB);
  if (!GetCommState(port, &state)) {
    return GiveUp(port, u"Unable to get %s configuration (%d)", name);
  }
  if (savedState != nullptr) *savedState = state;
  DCB found = state;
  ApplyLineSettings(state);
  if (!SetCommState(port, &state)) return GiveUp(port, u"Unable to configure %s (%d)", name);
  COMMTIMEOUTS timeouts{};
  if (!GetCommTimeouts(port, &timeouts)) {
    return GiveUp(port, u"Unable to get %s timeouts (%d)", name);
  }
  if (savedTimeouts != nullptr) *savedTimeouts = timeouts;
  COMMTIMEOUTS foundTimeouts = timeouts;
  timeouts = BootloaderTimeouts();
  if (!SetCommTimeouts(port, &timeouts)) {
    return GiveUp(port, u"Unable to set %s timeouts (%d)", name);
  }
  // From here on, Ctrl-C can put the port back as it was found.
  KeepFoundSettings(port, found, foundTimeouts);
  return port;
}

void RestorePort(HANDLE port, DCB* savedState, COMMTIMEOUTS* savedTimeouts) {
  DropFoundSettings(port);
  if (savedState != nullptr) SetCommState(port, savedState);
  if (savedTimeouts != nullptr) SetCommTimeouts(port, savedTimeouts);
  CloseHandle(port);
}
