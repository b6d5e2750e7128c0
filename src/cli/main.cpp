// pentrel-cli: one programming run from the console, through the same worker thread as the
// desktop program. Exit status 0 only when the device reported success.
#include "bootloader/program_thread.h"
#include "cli/console_view.h"
#include "log/message_log.h"
#include "platform/console.h"
#include "platform/text.h"
#include "platform/view_window.h"
#include "settings/settings.h"

namespace {

constexpr int kUsageError = 2;

const char16_t kUsage[] =
    u"usage: pentrel-cli HEXFILE [PORT]\n"
    u"Programs the Intel HEX file into a MELOR device through its serial bootloader.\n"
    u"  HEXFILE   the firmware image (Intel HEX: records 00, 01 and 04)\n"
    u"  PORT      a COM port name such as COM3, or on Linux a device path such as\n"
    u"            /dev/ttyUSB0; \"probe all\" (the default) searches every COM port\n"
    u"  --help    this text\n"
    u"  --version the version\n"
    u"Exit status: 0 when the device was programmed, 1 for any other ending, 2 for a usage error.\n"
    u"Each Last Status, its likely causes and what to try: README.md, \"Troubleshooting\".\n";

void Print(bool toError, const char16_t* text) {
  WriteConsole(toError, text, TextLength(text), false);
}

int UsageError(const char16_t* problem) {
  Print(true, u"pentrel-cli: ");
  Print(true, problem);
  Print(true, u"\n");
  Print(true, kUsage);
  return kUsageError;
}

// Ctrl-C (or SIGTERM, SIGHUP) ends the program at once, as closing the log window does: the run
// sees the flag if it is still going, but nobody waits for it.
void OnCtrlC(int exitStatus) {
  AbortRequested.store(1);
  EndProcessNow(exitStatus);
}

// Takes HEXFILE and PORT into the settings; returns -1 to go on, or the exit status.
int ParseArguments() {
  char16_t argument[kPathCapacity];
  int positional = 0;
  for (int i = 1; i < ConsoleArgumentCount(); i++) {
    if (!ConsoleArgument(i, argument, kPathCapacity)) {
      return UsageError(u"an argument is longer than 259 characters");
    }
    if (TextEqual(argument, u"--help")) {
      Print(false, kUsage);
      return 0;
    }
    if (TextEqual(argument, u"--version")) {
      Print(false, u"pentrel-cli 1.3\n");
      return 0;
    }
    if (argument[0] == u'-' && argument[1] != u'\0') return UsageError(u"unknown option");
    if (positional == 2) return UsageError(u"too many arguments");
    TextCopy(positional == 0 ? HexFileName : ComName, kPathCapacity, argument);
    positional++;
  }
  if (positional == 0) return UsageError(u"no HEX file given");
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  InitConsole(argc, argv);
  ResetSettings();
  int status = ParseArguments();
  if (status >= 0) return status;

  InitMessageLog();
  LogWindow = CreateViewWindow(ConsoleViewProc);
  OnInterrupt(OnCtrlC);
  HANDLE worker = CreateThread(nullptr, 0, ProgramThread, nullptr, 0, nullptr);
  if (worker == nullptr) {
    LogMessage(u"Unable to start the programming run (%d)", GetLastError());
    return 1;
  }
  WaitForThreadServingViews(worker);
  CloseHandle(worker);
  return TextEqual(MessageLog.lastStatus, u"Last Status: MELOR successfully programmed.") ? 0 : 1;
}
