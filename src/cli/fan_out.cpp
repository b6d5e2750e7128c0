// The parent of the per-port children: one lane (a thread) per port starts its child, renders its
// JSON lines and keeps its outcome.
#include "cli/fan_out.h"

#include <string>
#include <vector>

#include "cli/board_change.h"
#include "cli/console_text.h"
#include "cli/image_check.h"
#include "cli/json_view.h"
#include "cli/port_rows.h"
#include "cli/result.h"
#include "log/format.h"
#include "platform/process.h"

namespace {

// A station whose run ended at once (a port that cannot be opened) waits this long before the
// next, rather than spinning.
constexpr DWORD kStationPause = 1000;

struct Lane {
  size_t index;         // its place among the ports given
  std::string port;     // as given, or "probe all"
  std::string prefix;   // "[COM3] " when there are several ports, empty otherwise
  bool foundDevice = false;  // the current run found a board
  Json result;          // the current run's result object; null until it came
  bool lastOk = false;  // the last run's ending is known, and it did what the command says
  int succeeded = 0;
  int failed = 0;
  bool interruptedRun = false;  // Ctrl-C ended a run that had found its board
  bool stationStopped = false;  // a run ended in a way that no next board can change
  // In a station, a run's lines wait here until it finds its board, so that the runs that wait
  // for the next board do not fill the screen with the same few lines every second. Progress
  // on a terminal is drawn at once: a bar is redrawn in place, it piles nothing up.
  std::vector<Json> heldBack;
  std::vector<Json> lastWaitingLines;
};

const Request* request;
std::vector<Lane> lanes;
char16_t ownPath[kPathCapacity];
std::string imageDigest;  // what every run's image must be; empty for commands without one

// The word for a run that did what the command says: "programmed", "verified", "found".
const char* SuccessWord() {
  switch (request->command) {
    case Command::Verify: return "verified";
    case Command::Info: return "found";
    default: return "programmed";
  }
}

void RenderEvent(Lane& lane, Json& event) {
  std::string kind = event.value("event", "");
  if (request->json) {
    if (!event.contains("port")) event["port"] = lane.port;
    PrintJson(event);
  } else if (kind == "log" || kind == "in_use") {
    PrintAboveBars(lane.prefix + event.value("text", ""), kind == "in_use");
  } else if (kind == "progress") {
    ShowPortProgress(lane.index, event.value("text", ""));
  }
}

void RenderHeldBack(Lane& lane) {
  for (Json& event : lane.heldBack) RenderEvent(lane, event);
  lane.heldBack.clear();
}

bool HeldBack(const Lane& lane, const std::string& kind) {
  if (!request->repeat || lane.foundDevice) return false;
  return kind == "log" || kind == "in_use" || (request->json && kind == "progress");
}

void TakeLine(Lane& lane, const std::string& line) {
  Json event = Json::parse(line, nullptr, false);
  if (event.is_discarded() || !event.is_object()) return;
  std::string kind = event.value("event", "");
  if (kind == "result") lane.result = event;
  if (kind == "log" && event.value("text", "").rfind("Found MELOR device on ", 0) == 0) {
    lane.foundDevice = true;
  }
  // A station shows each result when it has counted the run.
  if (request->repeat && kind == "result") return;
  LockConsole();
  if (HeldBack(lane, kind)) {
    lane.heldBack.push_back(event);
  } else {
    if (lane.foundDevice) RenderHeldBack(lane);
    RenderEvent(lane, event);
  }
  UnlockConsole();
}

// Reads the child's JSON lines to its end, rendering each as it completes.
void FollowChild(Lane& lane, int child) {
  std::string pending;
  char buffer[4096];
  for (int count; (count = ReadChildOutput(child, buffer, sizeof buffer)) > 0;) {
    pending.append(buffer, static_cast<size_t>(count));
    for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
      TakeLine(lane, pending.substr(0, end));
    }
  }
}

// Starts one run of the command on the lane's port; -1 when no child could be started.
int StartChildRun(Lane& lane) {
  std::vector<std::string> words = ChildArguments(*request, lane.port, imageDigest);
  words.insert(words.begin(), Utf8Of(ownPath));
  std::vector<std::u16string> wide;
  for (const std::string& word : words) wide.push_back(Utf16Of(word));
  std::vector<const char16_t*> arguments;
  for (const std::u16string& word : wide) arguments.push_back(word.c_str());
  return StartChild(ownPath, arguments.data(), static_cast<int>(arguments.size()));
}

// A station shows each run's result (its child has appended it to the record file already): the
// object itself in JSON mode, its Last Status line otherwise.
void ShowResult(Lane& lane) {
  if (!lane.result.is_object() || !request->repeat) return;
  if (request->json) {
    PrintJson(lane.result);
  } else {
    PrintAboveBars(lane.prefix + lane.result.value("status", ""));
  }
}

// After each station run: "Station: 17 programmed, 1 failed." (prefixed when there are several).
void ReportStation(Lane& lane) {
  LockConsole();
  lane.lastWaitingLines.clear();
  ShowResult(lane);
  if (request->json) {
    PrintJson(Json{{"event", "station"}, {"port", lane.port}, {SuccessWord(), lane.succeeded},
                   {"failed", lane.failed}});
  } else {
    PrintAboveBars(lane.prefix + "Station: " + std::to_string(lane.succeeded) + " " +
                   SuccessWord() + ", " + std::to_string(lane.failed) + " failed.");
  }
  UnlockConsole();
}

// A lane that cannot go on says why; its port counts as failed, and a station as stopped.
void StopLane(Lane& lane, const std::string& what) {
  DWORD error = GetLastError();
  LockConsole();
  PrintAboveBars(lane.prefix + "pentrel-cli: unable to start " + what + " for " + lane.port +
                 " (" + std::to_string(error) + ")");
  UnlockConsole();
  lane.lastOk = false;
  lane.stationStopped = true;
}

// One run on the lane's port, to its end; false when no run could be started. A run counts as
// good only when its ending is known and its result says so.
bool RunOnce(Lane& lane) {
  lane.foundDevice = false;
  lane.result = nullptr;
  int child = StartChildRun(lane);
  if (child < 0) {
    StopLane(lane, "a run");
    return false;
  }
  FollowChild(lane, child);
  int status = WaitForChild(child);
  lane.lastOk = status == 0 && lane.result.is_object() && lane.result.value("ok", false);
  if (InterruptStatus() != 0 && lane.foundDevice && !lane.result.is_object()) {
    lane.interruptedRun = true;
  }
  return true;
}

// A station counts every run that found a board. One that was waiting for a board starts again
// after a pause, so that a port that cannot be opened is not tried in a spin; any other ending
// (a file that does not load) cannot change with the next board and ends the station.
bool CountStationRun(Lane& lane) {
  if (WaitedForBoard(lane.result)) {
    LockConsole();
    if (lane.heldBack != lane.lastWaitingLines) {
      lane.lastWaitingLines = lane.heldBack;
      RenderHeldBack(lane);
    }
    lane.heldBack.clear();
    UnlockConsole();
    PauseMilliseconds(kStationPause);
    return true;
  }
  if (!lane.result.is_object() || !lane.result["device"].is_object()) {
    lane.stationStopped = true;
    LockConsole();
    RenderHeldBack(lane);
    ShowResult(lane);
    UnlockConsole();
    return false;
  }
  (lane.lastOk ? lane.succeeded : lane.failed)++;
  ReportStation(lane);
  return true;
}

// A station with --reset runs a board only once it answers, and the same board only once.
bool NextBoardReady(const Lane& lane) {
  if (!request->repeat || request->reset.empty()) return true;
  bool boardInPlace = lane.result.is_object() && lane.result.contains("device") &&
                      lane.result.at("device").is_object();
  return AwaitNextBoard(*request, lane.port, lane.prefix, boardInPlace);
}

DWORD WINAPI LaneThread(LPVOID parameter) {
  Lane& lane = lanes[reinterpret_cast<size_t>(parameter)];
  while (NextBoardReady(lane) && RunOnce(lane) && request->repeat && InterruptStatus() == 0) {
    if (!CountStationRun(lane) || InterruptStatus() != 0) break;
  }
  return 0;
}

// After a batch: one line per port in the order given, then "Programmed 3 of 4 devices.".
void Summarize() {
  int succeeded = 0;
  for (const Lane& lane : lanes) {
    succeeded += lane.lastOk ? 1 : 0;
    if (request->json) continue;
    std::string status = lane.result.is_object() ? lane.result.value("status", "")
                                                 : std::string("ended without a result");
    PrintLine(false, lane.prefix + status);
  }
  if (request->json) return;
  std::string word = SuccessWord();
  word[0] = static_cast<char>(word[0] - 'a' + 'A');
  PrintLine(false, word + " " + std::to_string(succeeded) + " of " + std::to_string(lanes.size()) +
                       " devices.");
}

int ExitStatus() {
  bool runInterrupted = false, anyFailed = false;
  for (const Lane& lane : lanes) {
    runInterrupted = runInterrupted || lane.interruptedRun;
    anyFailed = anyFailed || (request->repeat ? lane.failed > 0 || lane.stationStopped
                                              : !lane.lastOk);
  }
  // A station stopped while every port waited for its next board ends by its count.
  if (InterruptStatus() != 0 && (!request->repeat || runInterrupted)) return InterruptStatus();
  return anyFailed ? 1 : 0;
}

}  // namespace

int RunOnEveryPort(const Request& given) {
  request = &given;
  if (!OwnExecutablePath(ownPath, kPathCapacity)) {
    PrintLine(true, "pentrel-cli: cannot find its own executable");
    return 1;
  }
  std::vector<std::string> ports = given.ports.empty() ? std::vector<std::string>{"probe all"}
                                                       : given.ports;
  std::vector<std::string> prefixes;
  for (const std::string& port : ports) {
    Lane lane;
    lane.index = lanes.size();
    lane.port = port;
    if (ports.size() > 1) lane.prefix = "[" + port + "] ";
    lanes.push_back(lane);
    prefixes.push_back(lane.prefix);
  }
  if (given.command != Command::Info) imageDigest = ImageDigestForChildren(given);
  InitPortRows(prefixes);
  ForwardInterruptsToChildren();
  // Each lane thread waits for its children: on Linux a child ends with the thread that started it.
  std::vector<HANDLE> threads;
  for (size_t i = 0; i < lanes.size(); i++) {
    HANDLE thread = CreateThread(nullptr, 0, LaneThread, reinterpret_cast<LPVOID>(i), 0, nullptr);
    if (thread == nullptr) {
      StopLane(lanes[i], "its lane");
    } else {
      threads.push_back(thread);
    }
  }
  for (HANDLE thread : threads) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  EraseBars();
  if (!given.repeat) Summarize();
  return ExitStatus();
}
