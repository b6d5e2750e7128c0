// The message log's storage and its writers.
#include "log/message_log.h"

MessageLogStore MessageLog;
char16_t WholeLogLines[kLogLines][kWholeLineCapacity];
HWND LogWindow = nullptr;

void InitMessageLog() {
  MessageLog.writeIndex = 0;
  MessageLog.displayIndex = 0;
  for (auto& line : MessageLog.ring) {
    for (char16_t& unit : line) unit = u' ';
  }
  for (auto& line : WholeLogLines) line[0] = u'\0';
  MessageLog.lock = CreateMutexW(nullptr, FALSE, nullptr);
}

static void NotifyView(UINT message) {
  if (LogWindow != nullptr) SendMessageW(LogWindow, message, 0, 1);
}

void LogMessageArgs(const char16_t* format, const FormatArg* args, size_t argCount) {
  // The lock is held while the slot is filled as well as while the index advances: a repaint
  // draws this slot as its top row, and must never show a line half written. Formatting is
  // short and sends nothing, so the view never waits long, and never on a thread that waits for
  // the view. One formatting pass serves both: the row is the whole line's start, cut and
  // padded (formatting writes its text in order, so a 64-unit capacity keeps the same first units).
  WaitForSingleObject(MessageLog.lock, INFINITE);
  char16_t* whole = WholeLogLines[MessageLog.writeIndex];
  size_t length = FormatArgs(whole, kWholeLineCapacity, format, args, argCount).length;
  FillLine(MessageLog.ring[MessageLog.writeIndex], kLogLineWidth, whole, length);
  MessageLog.writeIndex = (MessageLog.writeIndex + 1) % kLogLines;
  ReleaseMutex(MessageLog.lock);
  NotifyView(WM_LOG_LINES);
}

void ShowProgressArgs(const char16_t* format, const FormatArg* args, size_t argCount) {
  FormatLineArgs(MessageLog.progressLine, kLogLineWidth, format, args, argCount);
  NotifyView(WM_PROGRESS_LINE);
}
