// Verify, read and info: the run's steps in other orders.
#include "bootloader/command_threads.h"

#include "log/message_log.h"

namespace {

// Ends every command as the run ends: the view learns that the outcome is final.
DWORD Finished() {
  SendMessageW(LogWindow, WM_SHOW_SETUP, 0, 1);
  return 0;
}

bool ReadLengthFits(uint32_t length) {
  if (length <= FoundFlashSize()) return true;
  LogMessage(u"Read length is larger than MELOR flash size");
  SetLastStatus(u"Last Status: read length too large.");
  return false;
}

}  // namespace

DWORD WINAPI VerifyThread(LPVOID) {
  StartRun();
  if (LoadFirmwareImage() && FindDevice()) {
    if (ImageFitsFlash() && VerifyImage()) {
      SetLastStatus(u"Last Status: MELOR flash matches the image.");
    }
    ReleaseDevice();
  }
  return Finished();
}

DWORD WINAPI ReadThread(LPVOID parameter) {
  const ReadRequest* request = static_cast<const ReadRequest*>(parameter);
  StartRun();
  if (request->open() && FindDevice()) {
    uint32_t length = request->length != 0 ? request->length : FoundFlashSize();
    if (ReadLengthFits(length) && ReadFlash(length, request->sink) && request->finish(length)) {
      SetLastStatus(u"Last Status: MELOR flash read.");
    }
    ReleaseDevice();
  }
  return Finished();
}

DWORD WINAPI InfoThread(LPVOID) {
  StartRun();
  if (FindDevice()) {
    SetLastStatus(u"Last Status: MELOR found.");
    ReleaseDevice();
  }
  return Finished();
}
