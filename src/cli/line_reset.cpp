// The reset pulse: the line is asserted for --reset-ms and released, and stays released for the
// rest of the run, so that a board whose reset is held by the asserted line can run. A board
// whose reset is fed through a capacitor takes the assertion as its pulse.
#include "cli/line_reset.h"

#include "bootloader/detection.h"
#include "log/message_log.h"
#include "platform/process.h"

namespace {

const char16_t* lineName;
DWORD assertLine, releaseLine;
unsigned pulseMs;
bool presenceCheck;

bool Pulse(HANDLE port) {
  if (!EscapeCommFunction(port, assertLine)) return false;
  PauseMilliseconds(pulseMs);
  return EscapeCommFunction(port, releaseLine) != 0;
}

// Before the first query, and again where a person would be asked for the reset button (with a
// line in the log instead of the prompt). A station's look for a board ends there instead.
bool ResetThroughLine(HANDLE port, int attempt) {
  if (attempt != 0) {
    if (presenceCheck) {
      SetLastStatus(u"Last Status: MELOR not found");
      return false;
    }
    LogMessage(u"No answer: reset through %s again", lineName);
  }
  if (Pulse(port)) return true;
  SetLastStatus(u"Last Status: Unable to reset MELOR: the port cannot drive %s.", lineName);
  return false;
}

}  // namespace

void InstallLineReset(const Request& request) {
  if (request.reset.empty()) return;
  bool dtr = request.reset == "dtr";
  lineName = dtr ? u"DTR" : u"RTS";
  assertLine = dtr ? SETDTR : SETRTS;
  releaseLine = dtr ? CLRDTR : CLRRTS;
  pulseMs = request.resetMs;
  presenceCheck = request.presenceCheck;
  DeviceResetHook = ResetThroughLine;
}
