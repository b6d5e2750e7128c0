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

enum class Look { Answered, Silent, Failed };

// What a look's result says: a board answered, none did (or the port is missing for now), or the
// look could not be made (a port without the line), which a run then reports.
Look LookResult(const std::string& output) {
  Json result = Json::parse(output.substr(output.rfind('\n', output.size() - 2) + 1), nullptr, false);
  std::string status = result.is_object() ? result.value("status", "") : "";
  if (status == "Last Status: MELOR found.") return Look::Answered;
  if (status == "Last Status: MELOR not found" || status == "Last Status: Unable to open COM port.")
    return Look::Silent;
  return Look::Failed;
}

// One look: this program's presence check on the port, in a child process.
Look LookAtPort(const Request& request, const std::string& port) {
  char16_t ownPath[kPathCapacity];
  if (!OwnExecutablePath(ownPath, kPathCapacity)) return Look::Failed;
  std::vector<std::u16string> words = {ownPath};
  for (const std::string& word : PresenceCheckArguments(request, port)) words.push_back(Utf16Of(word));
  std::vector<const char16_t*> arguments;
  for (const std::u16string& word : words) arguments.push_back(word.c_str());
  int child = StartChild(ownPath, arguments.data(), static_cast<int>(arguments.size()));
  if (child < 0) return Look::Failed;
  std::string output;
  char buffer[4096];
  for (int count; (count = ReadChildOutput(child, buffer, sizeof buffer)) > 0;) output.append(buffer, count);
  WaitForChild(child);
  return LookResult(output);
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

// Looks until a board answers (wanted Answered) or none does (Silent); true when a run is due
// (a look that failed too: the run reports why), false when interrupted.
bool LookUntil(const Request& request, const std::string& port, Look wanted) {
  for (Look look; (look = LookAtPort(request, port)) != wanted && look != Look::Failed;) {
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
    if (!LookUntil(request, port, Look::Silent)) return false;
  }
  ShowWaiting(request, port, prefix, "the next board");
  return LookUntil(request, port, Look::Answered);
}
