// Starting a run's worker thread, and the way back to the setup dialog when it cannot start.
#include <gtest/gtest.h>

#include <string>

#include "log/message_log.h"
#include "log_capture.h"
#include "ui/run_start.h"
#include "ui/ui_state.h"

namespace {

DWORD WINAPI EndWithSeven(LPVOID) { return 7; }

bool SetupRequestPosted() {
  MSG message;
  return PeekMessageW(&message, LogWindow, WM_SHOW_SETUP, WM_SHOW_SETUP, PM_REMOVE) != 0;
}

TEST(StartRun, keeps_the_started_threads_handle_or_reports_and_asks_the_dialog_back) {
  LogCapture log;
  SetLastStatus(u"Last Status: earlier run");
  LogWindow = CreateWindowExW(0, L"STATIC", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              nullptr, nullptr);
  ASSERT_NE(LogWindow, nullptr);
  ASSERT_TRUE(StartRun(EndWithSeven, 0));
  DWORD code = WaitForSingleObject(WorkerThreadHandle, 10000);
  EXPECT_TRUE(GetExitCodeThread(WorkerThreadHandle, &code) && code == 7);
  EXPECT_EQ(std::u16string(MessageLog.lastStatus), u"Last Status: earlier run");
  EXPECT_FALSE(SetupRequestPosted());
  CloseHandle(WorkerThreadHandle);
  WorkerThreadHandle = INVALID_HANDLE_VALUE;

  // No system reserves a stack of this size, so CreateThread fails for real.
  ASSERT_FALSE(StartRun(EndWithSeven, SIZE_T{1} << 46));
  EXPECT_EQ(WorkerThreadHandle, INVALID_HANDLE_VALUE);
  std::u16string line = log.Lines().at(0);
  EXPECT_EQ(line.rfind(u"Unable to start the programming run. (", 0), 0u) << "line: "
      << std::string(line.begin(), line.end());
  EXPECT_EQ(std::u16string(MessageLog.lastStatus),
            u"Last Status: Unable to start the programming run.");
  EXPECT_TRUE(SetupRequestPosted());
  DestroyWindow(LogWindow);
  LogWindow = nullptr;
}

}  // namespace
