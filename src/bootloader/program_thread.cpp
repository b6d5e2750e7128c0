// One programming run: load, detect, size check, write, verify, finalize, report, restore.
#include "bootloader/program_thread.h"

#include "bootloader/run_steps.h"
#include "log/message_log.h"
#include "settings/settings.h"

namespace {

// The steps that run while the device's port is held.
void ProgramDevice() {
  if (!ImageFitsFlash() || !WriteImage() || !VerifyImage()) return;
  if (AbortRequested.load(std::memory_order_relaxed) != 0) ExitThread(static_cast<DWORD>(-1));
  Finalize();
}

}  // namespace

DWORD WINAPI ProgramThread(LPVOID) {
  StartRun();
  if (LoadFirmwareImage() && FindDevice()) {
    ProgramDevice();
    ReleaseDevice();
  }
  SendMessageW(LogWindow, WM_SHOW_SETUP, 0, 1);
  return 0;
}
