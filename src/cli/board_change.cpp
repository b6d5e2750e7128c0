// Waiting for the board to be taken out and for the next one.
#include "cli/board_change.h"

#include <vector>

#include "cli/console_text.h"
#include "cli/json_view.h"
#include "cli/port_rows.h"
#include "log/format.h"
#include "platform/process.h"

namespace {

// Between two looks: calm enough to leave the line mostly idle, short enough that a board taken
// out for a couple of seconds is seen to be gone.
constexpr unsigned kLookPause = 1000;

// One look: this program's presence check on the port, its output read and dropped; true when a
// board answered.
bool BoardAnswers(const Request& request, const std::string& port) {
  char16_t ownPath[kPathCapacity];
  if (!OwnExecutablePath(ownPath, kPathCapacity)) return false;
  std::vector<std::u16string> words = {ownPath};
  for (const std::string& word : PresenceCheckArguments(request, port)) words.push_back(Utf16Of(word));
  std::vector<const char16_t*> arguments;
  for (const std::u16string& word : words) arguments.push_back(word.c_str());
  int child = StartChild(ownPath, arguments.data(), static_cast<int>(arguments.size()));
  if (child < 0) return false;
  char buffer[4096];
  while (ReadChildOutput(child, buffer, sizeof buffer) > 0) {
  }
  return WaitForChild(child) == 0;
}

void ShowWaiting(const Request& request, const std::string& port, const std::string& prefix,
                 const char* what) {
  LockConsole();
  if (request.json) {
    PrintJson(Json{{"event", "waiting"}, {"port", port}, {"for", what}});
  } else {
    PrintAboveBars(prefix + "Station: waiting for " + what + ".");
  }
  UnlockConsole();
}

// Looks until a board answers (wanted true) or none does (false); false when interrupted.
bool LookUntil(const Request& request, const std::string& port, bool wanted) {
  while (BoardAnswers(request, port) != wanted) {
    if (InterruptStatus() != 0) return false;
    PauseMilliseconds(kLookPause);
    if (InterruptStatus() != 0) return false;
  }
  return InterruptStatus() == 0;
}

}  // namespace

bool AwaitNextBoard(const Request& request, const std::string& port, const std::string& prefix,
                    bool boardInPlace) {
  if (boardInPlace) {
    ShowWaiting(request, port, prefix, "the board to be taken out");
    if (!LookUntil(request, port, false)) return false;
  }
  ShowWaiting(request, port, prefix, "the next board");
  return LookUntil(request, port, true);
}
