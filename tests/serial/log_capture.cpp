// Log capture: a view window that takes each pending line off the ring, as the log window does.
#include "log_capture.h"

#include "log/message_log.h"
#include "platform/view_window.h"

namespace {

std::vector<std::u16string> capturedLines;

// Draws nothing: takes each pending line off the ring, as the log window does.
LRESULT CALLBACK RecordLines(HWND, UINT message, WPARAM, LPARAM) {
  if (message != WM_LOG_LINES) return 0;
  WaitForSingleObject(MessageLog.lock, INFINITE);
  while (MessageLog.displayIndex != MessageLog.writeIndex) {
    std::u16string text(MessageLog.ring[MessageLog.displayIndex], kLogLineWidth);
    text.erase(text.find_last_not_of(u' ') + 1);
    capturedLines.push_back(text);
    MessageLog.displayIndex = (MessageLog.displayIndex + 1) % kLogLines;
  }
  ReleaseMutex(MessageLog.lock);
  return 0;
}

}  // namespace

LogCapture::LogCapture() {
  if (MessageLog.lock != nullptr) CloseHandle(MessageLog.lock);
  InitMessageLog();
  capturedLines.clear();
  LogWindow = CreateViewWindow(RecordLines);
}

LogCapture::~LogCapture() {
  DestroyViewWindow(LogWindow);
  LogWindow = nullptr;
}

std::vector<std::u16string> LogCapture::Lines() const { return capturedLines; }

