// The console view: what the log window shows, written to the console instead.
#include "cli/console_view.h"

#include "cli/log_lines.h"
#include "cli/progress_bar.h"
#include "log/message_log.h"
#include "platform/console.h"
#include "platform/text.h"

namespace {

bool barShown;
size_t barLength;  // characters drawn since the bar's "\r", for a redraw without escapes

// Blanks what was drawn: with an escape where the terminal takes them, else with spaces.
void EraseBar() {
  if (!barShown) return;
  barShown = false;
  if (ErrorTakesEscapes()) {
    WriteConsole(true, u"\r\x1b[K", 4, false);
    return;
  }
  // A bar and the longest progress text, between two "\r".
  char16_t blank[kBarCapacity + kLogLineWidth + 2];
  blank[0] = u'\r';
  for (size_t i = 1; i <= barLength; i++) blank[i] = u' ';
  blank[barLength + 1] = u'\r';
  WriteConsole(true, blank, barLength + 2, false);
}

// On a terminal: "[#####.....]  39%  Sending firmware image: 39%", redrawn in place and cut to
// the terminal's width, so that it stays on one row that the next redraw blanks whole.
void DrawBar(const char16_t* text, size_t length) {
  EraseBar();
  if (length == 0) return;
  char16_t row[kBarCapacity + kLogLineWidth];
  size_t used = FormatBar(text, length, row);
  for (size_t i = 0; i < length; i++) row[used + i] = text[i];
  size_t shown = UnitsWithin(row, used + length, BarRowColumns());
  WriteConsole(true, row, shown, false);
  barShown = true;
  barLength = shown;
}

void ShowProgressLine() {
  size_t length = TrimmedLength(MessageLog.progressLine, kLogLineWidth);
  if (ErrorIsTerminal()) {
    DrawBar(MessageLog.progressLine, length);
  } else if (length > 0) {
    WriteConsole(true, MessageLog.progressLine, length, true);
  }
}

void PrintLogLine(const char16_t* line, size_t length) {
  EraseBar();
  WriteConsole(false, line, length, true);
}

// Prints every line the view has not shown yet, then puts the bar back below them.
void PrintPendingLines() {
  bool hadBar = barShown;
  ForEachPendingLine(PrintLogLine);
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
