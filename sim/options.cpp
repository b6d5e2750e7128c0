// Parsing and help text of melor-sim's command line.
#include "options.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <string_view>

namespace {

constexpr std::uint32_t kMaxFlashSize = 0x10000000;  // 256 MiB keeps 0x9D000000 + offset in 32 bits

// A whole unsigned number, decimal or 0x-prefixed hexadecimal, no larger than `max`.
std::optional<unsigned long> ParseUnsigned(std::string_view text, unsigned long max) {
  if (text.empty() || text.front() == '-' || text.front() == '+' || text.front() == ' ')
    return std::nullopt;
  std::string copy(text);
  char* end = nullptr;
  errno = 0;
  unsigned long value = std::strtoul(copy.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || value > max) return std::nullopt;
  return value;
}

std::optional<double> ParseSeconds(std::string_view text) {
  std::string copy(text);
  char* end = nullptr;
  errno = 0;
  double value = std::strtod(copy.c_str(), &end);
  if (copy.empty() || errno != 0 || *end != '\0' || !std::isfinite(value) || value <= 0 ||
      value > 1e6)
    return std::nullopt;
  return value;
}

std::string ParseVersion(std::string_view text, SimOptions& options) {
  auto dot = text.find('.');
  if (dot == std::string_view::npos) return "--version wants MAJOR.MINOR, e.g. 1.2";
  auto major = ParseUnsigned(text.substr(0, dot), 255);
  auto minor = ParseUnsigned(text.substr(dot + 1), 255);
  if (!major || !minor) return "--version wants MAJOR.MINOR, each 0 to 255";
  options.versionMajor = static_cast<std::uint8_t>(*major);
  options.versionMinor = static_cast<std::uint8_t>(*minor);
  return "";
}

std::string ParseFinal(std::string_view text, SimOptions& options) {
  if (text == "ok") {
    options.finalResult = 0x00;
  } else if (text == "E" || text == "G") {
    options.finalResult = static_cast<std::uint8_t>(text.front());
  } else if (auto code = ParseUnsigned(text, 255)) {
    options.finalResult = static_cast<std::uint8_t>(*code);
  } else {
    return "--final wants ok, E, G or a byte value";
  }
  return "";
}

std::string ParseFault(std::string_view text, SimOptions& options) {
  auto at = text.find('@');
  if (at == std::string_view::npos) return "--fault wants KIND@N or KIND@CMD:N";
  auto kind = FaultKindNamed(text.substr(0, at));
  if (!kind) return "unknown fault kind '" + std::string(text.substr(0, at)) + "' (see --help)";
  std::string_view where = text.substr(at + 1);
  FaultRule rule{*kind, std::nullopt, 0};
  if (auto colon = where.find(':'); colon != std::string_view::npos) {
    rule.only = CommandKindNamed(where.substr(0, colon));
    if (!rule.only)
      return "unknown command '" + std::string(where.substr(0, colon)) +
             "' (query, program, blank, read, final or close)";
    where = where.substr(colon + 1);
  }
  auto n = ParseUnsigned(where, 0xFFFFFFFFul);
  if (!n || *n == 0) return "--fault wants a command number from 1, as in bad-data@read:3";
  if (*kind == FaultKind::BadData && rule.only && *rule.only != CommandKind::Read)
    return "bad-data only changes read replies: aim it with @read:N or @N";
  rule.n = *n;
  options.faults.push_back(rule);
  return "";
}

// The option's name in a CLI11 message such as "--link: 1 required TEXT missing".
std::string OptionNamed(std::string_view message) {
  return std::string(message.substr(0, message.find(':')));
}

std::string ParseResetLine(std::string_view text, SimOptions& options) {
  if (text == "dtr") {
    options.resetLine = ResetLine::Dtr;
  } else if (text == "rts") {
    options.resetLine = ResetLine::Rts;
  } else {
    return "--needs-reset wants dtr or rts";
  }
  return "";
}

std::string ParseWiring(std::string_view text, SimOptions& options) {
  if (text != "capacitor" && text != "held") return "--reset-wiring wants capacitor or held";
  options.resetHeld = text == "held";
  return "";
}

using Setter = std::function<std::string(std::string_view, SimOptions&)>;

Setter UnsignedInto(unsigned long SimOptions::*field, unsigned long min, unsigned long max,
                    std::string what) {
  return [=](std::string_view text, SimOptions& options) -> std::string {
    auto value = ParseUnsigned(text, max);
    if (!value || *value < min) return what;
    options.*field = *value;
    return "";
  };
}

Setter SecondsInto(double SimOptions::*field, std::string what) {
  return [=](std::string_view text, SimOptions& options) -> std::string {
    auto seconds = ParseSeconds(text);
    if (!seconds) return what;
    options.*field = *seconds;
    return "";
  };
}

const std::map<std::string, Setter, std::less<>>& Setters() {
  static const std::map<std::string, Setter, std::less<>> setters = {
      {"--link", [](std::string_view t, SimOptions& o) { o.linkPath = t; return std::string(); }},
      {"--dump", [](std::string_view t, SimOptions& o) { o.dumpPath = t; return std::string(); }},
      {"--trace", [](std::string_view t, SimOptions& o) { o.tracePath = t; return std::string(); }},
      {"--timeout", SecondsInto(&SimOptions::timeoutSeconds,
                                "--timeout wants a number of seconds above 0, e.g. 30 or 2.5")},
      {"--flash-size",
       [](std::string_view t, SimOptions& o) -> std::string {
         auto size = ParseUnsigned(t, kMaxFlashSize);
         if (!size || *size == 0) return "--flash-size wants 1 to 0x10000000 bytes";
         o.flashSize = static_cast<std::uint32_t>(*size);
         return "";
       }},
      {"--version", ParseVersion},
      {"--device-id",
       [](std::string_view t, SimOptions& o) -> std::string {
         auto id = ParseUnsigned(t, 255);
         if (!id) return "--device-id wants a byte value, e.g. 0x0F";
         o.deviceId = static_cast<std::uint8_t>(*id);
         return "";
       }},
      {"--final", ParseFinal},
      {"--answer-after", UnsignedInto(&SimOptions::answerAfter, 0, 1000000,
                                      "--answer-after wants a count of queries, 0 or more")},
      {"--baud", UnsignedInto(&SimOptions::baud, 1, 10000000, "--baud wants 1 to 10000000")},
      {"--burst-ms", UnsignedInto(&SimOptions::burstMs, 1, 1000,
                                  "--burst-ms wants 1 to 1000 milliseconds")},
      {"--late-ms", UnsignedInto(&SimOptions::lateMs, 0, 600000,
                                 "--late-ms wants 0 to 600000 milliseconds")},
      {"--gap-ms", UnsignedInto(&SimOptions::gapMs, 0, 60000,
                                "--gap-ms wants 0 to 60000 milliseconds")},
      {"--garbage-bytes", UnsignedInto(&SimOptions::garbageBytes, 1, 100000,
                                       "--garbage-bytes wants 1 to 100000 bytes")},
      {"--fault", ParseFault},
      {"--needs-reset", ParseResetLine},
      {"--reset-wiring", ParseWiring},
      {"--bootloader-window", SecondsInto(&SimOptions::bootloaderWindowSeconds,
                                          "--bootloader-window wants a number of seconds above 0")},
      {"--miss-resets", UnsignedInto(&SimOptions::missResets, 0, 1000000,
                                     "--miss-resets wants a count of resets, 0 or more")},
      {"--control", [](std::string_view t, SimOptions& o) { o.controlPath = t; return std::string(); }},
  };
  return setters;
}

}  // namespace

ParseResult ParseOptions(int argc, char** argv, SimOptions& options) {
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") return {ParseOutcome::Help, ""};
  }
  CLI::App app{"", "melor-sim"};
  app.set_help_flag();
  app.allow_extras();
  // Each option takes one value an occurrence; a repeated option is set again, in order.
  for (const auto& [name, setter] : Setters()) {
    app.add_option_function<std::vector<std::string>>(
           name,
           [&options, setter = setter](const std::vector<std::string>& values) {
             for (const std::string& value : values) {
               if (std::string error = setter(value, options); !error.empty())
                 throw CLI::ValidationError(error + " (got '" + value + "')");
             }
           })
        ->allow_extra_args(false);
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ArgumentMismatch& error) {
    return {ParseOutcome::Error, OptionNamed(error.what()) + " needs a value"};
  } catch (const CLI::ParseError& error) {
    return {ParseOutcome::Error, error.what()};
  }
  if (!app.remaining().empty())
    return {ParseOutcome::Error, "unknown option '" + app.remaining().front() + "'"};
  return {ParseOutcome::Run, ""};
}

std::string HelpText() {
  std::string text = R"(usage: melor-sim [OPTION...]

Stands in for a MELOR device's serial bootloader on a pseudo-terminal. The first line on
stdout is the path of the terminal to open (e.g. /dev/pts/7). melor-sim never speaks first:
it answers each command frame, ignores frames with a bad checksum, and keeps serving while
the terminal is closed and opened again. It ends on SIGINT, SIGTERM, --timeout or the
hang-up fault, prints one summary line and, with --dump, writes its flash.

Options (--NAME VALUE and --NAME=VALUE both work; numbers may be decimal or 0x hex):
  --link PATH          also make PATH a symlink to the terminal (a stale symlink is replaced;
                       removed again at exit)            e.g. --link /tmp/melor0
  --timeout S          end after S seconds (fractions allowed)    e.g. --timeout 30
  --dump FILE          at exit, write the whole flash (exactly --flash-size bytes) to FILE
                                                                  e.g. --dump flash.bin
  --trace FILE         write one line per command, reply and ignored frame to FILE
                                                                  e.g. --trace sim.trace
  --flash-size BYTES   flash size reported and simulated (default 0x80000)
                                                                  e.g. --flash-size 0x40000
  --version MAJ.MIN    bootloader version reported (default 1.2)  e.g. --version 2.0
  --device-id ID       device id reported (default 0x0F)          e.g. --device-id 0x0E
  --final RESULT       byte 1 of the final reply: ok (0x00), E (not blank), G (programming
                       error) or any byte value (default ok)      e.g. --final E
  --answer-after N     ignore the first N queries, as a device before its reset button is
                       pressed (default 0)                        e.g. --answer-after 3
  --baud B             pace both directions at B baud, 10 bits a byte (default: no pacing)
                                                                  e.g. --baud 57600
  --burst-ms MS        hand the tool our bytes only every MS ms, all that crossed the line
                       since the last hand-over at once, as a USB serial adapter with an MS ms
                       latency timer does (default: each byte as it crosses)
                                                   e.g. --baud 57600 --burst-ms 16
  --fault KIND@N       inject a fault into the reply to the Nth command received (from 1)
  --fault KIND@CMD:N   ... or to the Nth command of one kind: CMD is query, program, blank,
                       read, final or close; repeatable          e.g. --fault bad-data@read:3
  --late-ms MS         delay of the late fault (default 1500)     e.g. --late-ms 3000
  --gap-ms MS          gap between bytes of the dribble fault (default 10)
  --garbage-bytes N    length of the garbage fault's burst (default 8)
                                                                  e.g. --garbage-bytes 3000
  --needs-reset LINE   a board that must be reset into its bootloader through the adapter's
                       dtr or rts line: it runs its application (silent) until a reset, then
                       its bootloader answers until --bootloader-window passes without a
                       command or a close command ends the session  e.g. --needs-reset dtr
  --reset-wiring W     how LINE reaches the reset: capacitor (asserting the line gives a reset
                       pulse; the default) or held (the asserted line holds the board in reset,
                       releasing it starts the board)             e.g. --reset-wiring held
  --bootloader-window S  seconds the bootloader waits for a command after a reset (default 2)
  --miss-resets N      the first N resets go unnoticed, as on a board that is slow to power up
  --control PATH       make PATH a FIFO (removed at exit) that takes one line at a time:
                         dtr 1, dtr 0, rts 1, rts 0   the tool changed a modem line (a
                                                      pseudo-terminal cannot show it)
                         remove                       the board is taken out: nothing answers;
                                                      with --dump, its flash goes to FILE.N
                                                      (N: the board's number, from 1)
                         insert                       a new, blank board is put in
                                                                  e.g. --control /tmp/melor0.ctl
  --help               this text

Fault kinds:
)";
  for (const auto& info : kFaultKinds) {
    text += "  " + std::string(info.name);
    text.append(info.name.size() < 14 ? 14 - info.name.size() : 1, ' ');
    text += std::string(info.help) + "\n";
  }
  text += R"(
Replies: query -> flash size (4 bytes, little-endian), major, minor, device id, 5 zero
bytes; program and blank -> the command's code (02 or 22); read -> the 8 header bytes and
the flash bytes; final -> 08 and the --final byte; close -> nothing. A command that is
malformed or reaches outside the flash gets the single byte 15. Flash sits at 0x9D000000,
erased to ff at start. N in --fault counts every frame whose checksum holds, refused
and ignored commands included.

Trace lines: an event and key=value fields; at= is milliseconds since start:
  rx n=N cmd=CMD code=0xCC len=L [words=W addr=0xAAAAAAAA | image=0xIIIIIIII]
  tx n=N cmd=CMD code=0xCC len=L wire=BYTES [fault=KIND,...] [refused=WHY]
  silent n=N cmd=CMD reason=answer-after|no-answer-due|fault [fault=no-reply]
  hangup n=N cmd=CMD fault=hang-up
  ignored reason=bad-checksum|empty|overflow len=STORED
  ignored reason=application|held|absent len=STORED    (the bootloader was not listening)
  link state=up|down
  lines dtr=0|1 rts=0|1
  board n=N state=bootloader|application|held|absent reason=start|reset|missed-reset|window|
        close|removed|inserted

Exit status: 0 after a normal end (signal, --timeout, hang-up fault), 1 when the terminal,
link, control FIFO, trace or dump cannot be made, 2 for a bad command line.

Example: melor-sim --link /tmp/melor0 --trace sim.trace --dump flash.bin --fault late@program:2
)";
  return text;
}
