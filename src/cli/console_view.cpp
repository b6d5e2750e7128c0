// The console view: what the log window shows, written to the console instead.
#include "cli/console_view.h"

#include "log/message_log.h"
#include "platform/console.h"
#include "platform/text.h"

namespace {

constexpr int kBarWidth = 30;
bool barShown;
size_t barLength;  // characters drawn since the bar's "\r", for a redraw without escapes

size_t TrimmedLength(const char16_t* line, size_t width) {
  while (width > 0 && line[width - 1] == u' ') width--;
  return width;
}

// The first number followed by "%" in the progress text, or -1.
int PercentIn(const char16_t* text, size_t length) {
  for (size_t i = 0; i < length; i++) {
    int value = 0;
    size_t j = i;
    while (j < length && j - i < 3 && text[j] >= u'0' && text[j] <= u'9') {
      value = value * 10 + (text[j++] - u'0');
    }
    if (j > i && j < length && text[j] == u'%') return value;
  }
  return -1;
}

// Blanks what was drawn: with an escape where the terminal takes them, else with spaces.
void EraseBar() {
  if (barShown && ErrorTakesEscapes()) {
    WriteConsole(true, u"\r\x1b[K", 4, false);
  } else if (barShown) {
    char16_t blank[kBarWidth + 16 + kLogLineWidth];
    size_t length = barLength < sizeof blank / sizeof blank[0] - 2 ? barLength : 0;
    blank[0] = u'\r';
    for (size_t i = 1; i <= length; i++) blank[i] = u' ';
    blank[length + 1] = u'\r';
    WriteConsole(true, blank, length + 2, false);
  }
  barShown = false;
}

// On a terminal: "\r[#####.....]  39%  Sending firmware image: 39%", redrawn in place.
void DrawBar(const char16_t* text, size_t length) {
  EraseBar();
  if (length == 0) return;
  char16_t bar[kBarWidth + 2 + 8];
  size_t used = 0;
  int percent = PercentIn(text, length);
  if (percent >= 0) {
    int filled = (percent > 100 ? 100 : percent) * kBarWidth / 100;
    bar[used++] = u'[';
    for (int i = 0; i < kBarWidth; i++) bar[used++] = i < filled ? u'#' : u'.';
    used += FormatBounded(bar + used, sizeof bar / sizeof bar[0] - used, u"] %3d%%  ", percent);
    WriteConsole(true, bar, used, false);
  }
  WriteConsole(true, text, length, false);
  barShown = true;
  barLength = used + length;
}

void ShowProgressLine() {
  size_t length = TrimmedLength(MessageLog.progressLine, kLogLineWidth);
  if (ErrorIsTerminal()) {
    DrawBar(MessageLog.progressLine, length);
  } else if (length > 0) {
    WriteConsole(true, MessageLog.progressLine, length, true);
  }
}

// Prints every line the view has not shown yet, oldest first; blank lines are left out.
void PrintPendingLines() {
  WaitForSingleObject(MessageLog.lock, INFINITE);
  bool hadBar = barShown;
  while (MessageLog.displayIndex != MessageLog.writeIndex) {
    const char16_t* line = MessageLog.ring[MessageLog.displayIndex];
    size_t length = TrimmedLength(line, kLogLineWidth);
    if (length > 0) {
      EraseBar();
      WriteConsole(false, line, length, true);
    }
    MessageLog.displayIndex = (MessageLog.displayIndex + 1) % kLogLines;
  }
  ReleaseMutex(MessageLog.lock);
  if (hadBar && !barShown) ShowProgressLine();
}

void PrintLastStatus() {
  EraseBar();
  WriteConsole(false, MessageLog.lastStatus, TextLength(MessageLog.lastStatus), true);
}

}  // namespace

LRESULT CALLBACK ConsoleViewProc(HWND, UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_LOG_LINES:
      PrintPendingLines();
      break;
    case WM_PROGRESS_LINE:
      ShowProgressLine();
      break;
    case WM_SHOW_SETUP:
      PrintLastStatus();
      break;
  }
  return 0;
}
