// The message log: the system's one reporting channel. LogMessage appends a line to a ring of 14
// fixed-width lines, ShowProgress replaces the progress line, SetLastStatus sets the outcome text
// that the setup dialog shows. The view (LogWindow) is told of each line and progress change
// with a synchronous message, so a line is on screen when LogMessage returns.
#pragma once

#include <cstdint>

#include "log/format.h"
#include "platform/win32.h"

constexpr int kLogLines = 14;
constexpr int kLogLineWidth = 64;
constexpr int kLastStatusCapacity = 80;

// Messages to the view; both parameters are 0 and 1, and the view reads neither.
constexpr UINT WM_LOG_LINES = WM_USER + 1;
constexpr UINT WM_PROGRESS_LINE = WM_USER + 2;
constexpr UINT WM_SHOW_SETUP = WM_USER + 3;

struct MessageLogStore {
  char16_t ring[kLogLines][kLogLineWidth];  // space-filled, unterminated
  int32_t writeIndex;                       // the slot the next line fills
  int32_t displayIndex;                     // the oldest slot the view has not drawn
  HANDLE lock;                              // guards both indices and the view's reading of ring
  char16_t progressLine[kLogLineWidth];     // space-filled, unterminated; zero until first shown
  char16_t lastStatus[kLastStatusCapacity]; // terminated
};

extern MessageLogStore MessageLog;

// Every ring line as it was formatted, before it was cut to its 64-character row, in the same
// slot and under the same lock: for views that are not a window of 64 columns (the console
// front end), which must show a long device path and the error code after it whole. Terminated;
// a path, the message around it and a second path fit.
constexpr size_t kWholeLineCapacity = 2 * kPathCapacity;
extern char16_t WholeLogLines[kLogLines][kWholeLineCapacity];

// The view that LogMessage and ShowProgress notify; null until it exists.
extern HWND LogWindow;

// Start-up: both indices 0, every line all spaces, the lock created.
void InitMessageLog();

void LogMessageArgs(const char16_t* format, const FormatArg* args, size_t argCount);
void ShowProgressArgs(const char16_t* format, const FormatArg* args, size_t argCount);

template <typename... A>
void LogMessage(const char16_t* format, A... args) {
  const FormatArg packed[] = {MakeFormatArg(args)..., FormatArg{}};
  LogMessageArgs(format, packed, sizeof...(A));
}

template <typename... A>
void ShowProgress(const char16_t* format, A... args) {
  const FormatArg packed[] = {MakeFormatArg(args)..., FormatArg{}};
  ShowProgressArgs(format, packed, sizeof...(A));
}

template <typename... A>
void SetLastStatus(const char16_t* format, A... args) {
  FormatBounded(MessageLog.lastStatus, kLastStatusCapacity, format, args...);
}
