// Lines and progress bars of several ports on one console.
#include "cli/port_rows.h"

#include "cli/console_text.h"
#include "cli/progress_bar.h"
#include "platform/win32.h"  // <windows.h>, whose WriteConsole macro console.h must see

#include "platform/console.h"

namespace {

struct Row {
  std::string prefix;
  std::u16string progress;  // empty when the port shows none
};
std::vector<Row> rows;
HANDLE consoleLock;
int barRows;  // rows of bars drawn below the last line

// The prefix a bar row starts with: a name so long that it would crowd the bar out keeps its
// end ("[...A50285BI-if00-port0] "), which is what tells two adapters' stable names apart.
std::u16string BarPrefix(const std::string& prefix, size_t columns) {
  std::u16string wide = Utf16Of(prefix);
  size_t room = columns > kBarCapacity ? columns - kBarCapacity : 0;
  if (wide.size() <= room || room < 8) return wide;
  return u"[..." + wide.substr(wide.size() - (room - 4));
}

// One row per port that shows a progress text, in the order the ports were given, each cut to
// the terminal's width: a row that wrapped would take two screen rows, and erasing would leave
// one behind.
void DrawBars() {
  size_t columns = BarRowColumns();
  for (const Row& row : rows) {
    if (row.progress.empty()) continue;
    char16_t bar[kBarCapacity];
    size_t used = FormatBar(row.progress.data(), row.progress.size(), bar);
    std::u16string line =
        BarPrefix(row.prefix, columns) + std::u16string(bar, used) + row.progress;
    WriteConsole(true, line.data(), UnitsWithin(line.data(), line.size(), columns), true);
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
  bool bars = ErrorTakesEscapes();
  if (bars) EraseBars();
  PrintLine(toError, line);
  if (bars) DrawBars();
}

void ShowPortProgress(size_t port, const std::string& text) {
  if (!ErrorTakesEscapes()) {
    if (!text.empty()) PrintLine(true, rows[port].prefix + text);
    return;
  }
  EraseBars();
  rows[port].progress = Utf16Of(text);
  DrawBars();
}
