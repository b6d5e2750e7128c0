// pentrel-cli: the console front end. Each command runs through the same worker threads as the
// desktop program; the exit status is 0 when the command did what it says, 1 for any other
// ending, 2 for a usage error.
#include "cli/command_line.h"
#include "cli/console_text.h"
#include "cli/fan_out.h"
#include "cli/port_listing.h"
#include "cli/single_run.h"
#include "log/format.h"
#include "platform/console.h"
#include "settings/settings.h"

namespace {

constexpr int kUsageError = 2;

int UsageError(const std::string& reason) {
  PrintLine(true, "pentrel-cli: " + reason + " (pentrel-cli --help shows the usage)");
  return kUsageError;
}

// The arguments as UTF-8 after the program's name; false when one is too long to take.
bool TakeArguments(std::vector<std::string>& arguments) {
  char16_t argument[kPathCapacity];
  for (int i = 1; i < ConsoleArgumentCount(); i++) {
    if (!ConsoleArgument(i, argument, kPathCapacity)) return false;
    arguments.push_back(Utf8Of(argument));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  InitConsole(argc, argv);
  ResetSettings();
  std::vector<std::string> arguments;
  if (!TakeArguments(arguments)) return UsageError("an argument is longer than 259 characters");
  Request request;
  std::string reason;
  switch (ParseCommandLine(arguments, request, reason)) {
    case ParseOutcome::Help:
      PrintText(false, kHelpText);
      return 0;
    case ParseOutcome::Version:
      PrintLine(false, "pentrel-cli 1.3");
      return 0;
    case ParseOutcome::UsageError:
      return UsageError(reason);
    case ParseOutcome::Run:
      break;
  }
  if (request.command == Command::Ports) return ListPorts(request);
  if (request.ports.size() > 1 || request.repeat) return RunOnEveryPort(request);
  return RunHere(request);
}
