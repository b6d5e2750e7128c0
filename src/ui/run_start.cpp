// Starting the worker thread of a programming run.
#include "ui/run_start.h"

#include "log/message_log.h"
#include "ui/ui_state.h"

bool StartRun(LPTHREAD_START_ROUTINE routine, SIZE_T stackSize) {
  HANDLE thread = CreateThread(nullptr, stackSize, routine, nullptr, 0, nullptr);
  if (thread != nullptr) {
    WorkerThreadHandle = thread;
    return true;
  }
  // No run will ever send WM_SHOW_SETUP, so without this the user would be left with nothing
  // but the log window.
  LogMessage(u"Unable to start the programming run. (%d)", static_cast<int32_t>(GetLastError()));
  SetLastStatus(u"Last Status: Unable to start the programming run.");
  PostMessageW(LogWindow, WM_SHOW_SETUP, 0, 1);
  return false;
}
