// One command in this process: the settings, the view, the worker thread and the result.
#include "cli/single_run.h"

#include <chrono>

#include "bootloader/command_threads.h"
#include "bootloader/detection.h"
#include "bootloader/program_thread.h"
#include "cli/console_text.h"
#include "cli/console_view.h"
#include "cli/flash_file.h"
#include "cli/image_check.h"
#include "cli/json_view.h"
#include "cli/line_reset.h"
#include "cli/result.h"
#include "log/message_log.h"
#include "platform/console.h"
#include "platform/port_holder.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/view_window.h"
#include "settings/settings.h"

namespace {

// The Last Status that each command ends with when it did what it says.
const char16_t* SuccessStatus(Command command) {
  switch (command) {
    case Command::Verify: return u"Last Status: MELOR flash matches the image.";
    case Command::Read: return u"Last Status: MELOR flash read.";
    case Command::Info: return u"Last Status: MELOR found.";
    default: return u"Last Status: MELOR successfully programmed.";
  }
}

// Ctrl-C (or SIGTERM, SIGHUP) ends the program at once, as closing the log window does: the run
// sees the flag if it is still going, but nobody waits for it. A read's partial file goes with it.
void OnCtrlC(int exitStatus) {
  AbortRequested.store(1);
  RemoveFlashFileNow();
  EndProcessNow(exitStatus);
}

void TakeSettings(const Request& request) {
  TextCopy(HexFileName, kPathCapacity, Utf16Of(request.file).c_str());
  if (!request.ports.empty()) TextCopy(ComName, kPathCapacity, Utf16Of(request.ports[0]).c_str());
  FastReplies = request.fast;
  InstallLineReset(request);
}

HANDLE StartWorker(const Request& request, ReadRequest* read) {
  LPTHREAD_START_ROUTINE worker = ProgramThread;
  if (request.command == Command::Verify) worker = VerifyThread;
  if (request.command == Command::Info) worker = InfoThread;
  if (request.command == Command::Read) {
    *read = FlashFileRequest(Utf16Of(request.file), request.length);
    worker = ReadThread;
  }
  return CreateThread(nullptr, 0, worker, read, 0, nullptr);
}

// A named port that another program had open: one line on stderr naming it (an "in_use" event
// in JSON), since the core's own message can only say that the port could not be opened.
void ReportPortHolder(const Request& request) {
  PortHolder holder;
  if (request.ports.empty() || !LastPortHolder(&holder)) return;
  std::string port = request.ports[0], device = Utf8Of(holder.device);
  std::string text = port + (device == port ? "" : " (" + device + ")") + " is open in " +
                     Utf8Of(holder.program) + " (pid " + std::to_string(holder.pid) + ")";
  if (request.json) {
    PrintJson(Json{{"event", "in_use"}, {"text", text}, {"device", device},
                   {"program", Utf8Of(holder.program)}, {"pid", holder.pid}});
  } else {
    PrintLine(true, text);
  }
}

}  // namespace

int RunHere(const Request& request) {
  auto start = std::chrono::steady_clock::now();
  // A child whose parent has gone would run a board that nobody follows.
  if (request.parent != 0 && !EndWithParent(request.parent)) return 1;
  TakeSettings(request);
  CheckLoadedImages(request);
  InitMessageLog();
  LogWindow = CreateViewWindow(request.json ? JsonViewProc : ConsoleViewProc);
  OnInterrupt(OnCtrlC);
  ReadRequest read{};
  HANDLE worker = StartWorker(request, &read);
  if (worker == nullptr) {
    LogMessage(u"Unable to start the programming run (%d)", GetLastError());
    return 1;
  }
  WaitForThreadServingViews(worker);
  CloseHandle(worker);
  int status = TextEqual(MessageLog.lastStatus, SuccessStatus(request.command)) ? 0 : 1;
  if (request.command == Command::Read && status != 0) DiscardFlashFile();
  if (status != 0 && !DetectedDevice.found) ReportPortHolder(request);
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return Conclude(request, ResultObject(request, status, seconds));
}
