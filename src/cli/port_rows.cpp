// Lines and progress bars of several ports on one console.
#include "cli/port_rows.h"

#include "cli/console_text.h"
#include "cli/progress_bar.h"
#include "platform/console.h"
#include "platform/win32.h"

namespace {

struct Row {
  std::string prefix;
  std::u16string progress;  // empty when the port shows none
};
std::vector<Row> rows;
HANDLE consoleLock;
int barRows;  // rows of bars drawn below the last line

// One row per port that shows a progress text, in the order the ports were given.
void DrawBars() {
  for (const Row& row : rows) {
    if (row.progress.empty()) continue;
    char16_t bar[kBarCapacity];
    size_t used = FormatBar(row.progress.data(), row.progress.size(), bar);
    PrintLine(true, row.prefix + Utf8Of(std::u16string(bar, used).c_str()) +
                        Utf8Of(row.progress.c_str()));
    barRows++;
  }
}

}  // namespace

void InitPortRows(const std::vector<std::string>& prefixes) {
  for (const std::string& prefix : prefixes) rows.push_back(Row{prefix, u""});
  consoleLock = CreateMutexW(nullptr, FALSE, nullptr);
}

void LockConsole() { WaitForSingleObject(consoleLock, INFINITE); }

void UnlockConsole() { ReleaseMutex(consoleLock); }

void EraseBars() {
  if (barRows > 0) PrintText(true, "\x1b[" + std::to_string(barRows) + "A\r\x1b[J");
  barRows = 0;
}

void PrintAboveBars(const std::string& line, bool toError) {
  bool terminal = ErrorIsTerminal();
  if (terminal) EraseBars();
  PrintLine(toError, line);
  if (terminal) DrawBars();
}

void ShowPortProgress(size_t port, const std::string& text) {
  if (!ErrorIsTerminal()) {
    if (!text.empty()) PrintLine(true, rows[port].prefix + text);
    return;
  }
  EraseBars();
  rows[port].progress = Utf16Of(text);
  DrawBars();
}
