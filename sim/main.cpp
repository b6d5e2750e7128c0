// melor-sim's entry point: sets up the pty, trace, dump and control input, serves, and reports.
#include <cstdio>
#include <string>

#include "commands.h"
#include "control.h"
#include "options.h"
#include "pty.h"
#include "serve.h"
#include "trace.h"

namespace {

constexpr int kExitOk = 0, kExitFailure = 1, kExitUsage = 2;

int Fail(const std::string& message) {
  std::fprintf(stderr, "melor-sim: %s\n", message.c_str());
  return kExitFailure;
}

const char* EndText(EndReason reason) {
  switch (reason) {
    case EndReason::Signal: return "stopped by signal";
    case EndReason::Timeout: return "timed out";
    case EndReason::HangUp: return "hung up";
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  SimOptions options;
  ParseResult parsed = ParseOptions(argc, argv, options);
  if (parsed.outcome == ParseOutcome::Help) {
    std::fputs(HelpText().c_str(), stdout);
    return kExitOk;
  }
  if (parsed.outcome == ParseOutcome::Error) {
    std::fprintf(stderr, "melor-sim: %s\nTry 'melor-sim --help'.\n", parsed.error.c_str());
    return kExitUsage;
  }

  // The dump file is opened now, so that a bad path is reported before a run rather than after it.
  std::FILE* dump = nullptr;
  if (!options.dumpPath.empty() && !(dump = std::fopen(options.dumpPath.c_str(), "wb")))
    return Fail("cannot write the dump file " + options.dumpPath);
  Trace trace;
  if (!options.tracePath.empty() && !OpenTrace(trace, options.tracePath))
    return Fail("cannot write the trace file " + options.tracePath);
  std::string error;
  Pty pty;
  if (!OpenPty(pty, error)) return Fail(error);
  if (!options.linkPath.empty() && !MakeLink(pty, options.linkPath, error)) return Fail(error);
  Control control;
  if (!options.controlPath.empty() && !OpenControl(control, options.controlPath, error)) {
    if (!options.linkPath.empty()) RemoveLink(pty, options.linkPath);
    return Fail(error);
  }

  InstallStopSignals();
  std::printf("%s\n", pty.slavePath.c_str());
  std::fflush(stdout);

  Device device = MakeDevice(options);
  Session session{options, pty, device, trace, control};
  StartBoard(session);
  session.line = MakeLineClock(options.baud, options.burstMs);
  if (options.timeoutSeconds > 0)
    session.deadline = SimClock::now() + std::chrono::duration_cast<SimClock::duration>(
                                             std::chrono::duration<double>(options.timeoutSeconds));
  EndReason reason = Serve(session);

  ClosePty(pty);
  if (!options.linkPath.empty()) RemoveLink(pty, options.linkPath);
  CloseControl(control);
  CloseTrace(trace);
  std::printf("melor-sim: %lu commands served, %llu bytes in, %llu bytes out (%s)\n",
              session.counts.total, session.bytesIn, session.bytesOut, EndText(reason));
  std::fflush(stdout);
  if (dump && !WriteFlash(dump, device)) return Fail("cannot write the dump file " + options.dumpPath);
  return kExitOk;
}
