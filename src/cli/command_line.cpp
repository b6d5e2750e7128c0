// The command line, parsed with CLI11. "program" may be left out; the options go anywhere.
#include "cli/command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "log/format.h"
#include "platform/process.h"

const char kHelpText[] =
    "Usage: pentrel-cli [COMMAND] FILE [PORT...] [OPTIONS]\n\n"
    "Writes, checks and reads the flash of MELOR devices through their serial bootloader.\n"
    "\n"
    "Commands:\n"
    "  [program] HEXFILE [PORT...]    write the image into the device (\"program\" may be left out)\n"
    "      pentrel-cli firmware.hex COM3\n"
    "  verify HEXFILE [PORT...]       compare the device's flash with the image; writes nothing\n"
    "      pentrel-cli verify firmware.hex /dev/ttyUSB0\n"
    "  read OUTFILE [PORT] [--length N]\n"
    "                                 read the flash into OUTFILE (Intel HEX when it ends in .hex,\n"
    "                                 raw bytes otherwise); N: bytes from the start, a multiple of 4\n"
    "      pentrel-cli read backup.hex COM3 --length 0x1000\n"
    "  info [PORT]                    find the device and show what it reports\n"
    "      pentrel-cli info\n"
    "  ports                          list the usable COM ports: NAME, DEVICE, DESCRIPTION\n"
    "      pentrel-cli ports\n"
    "\n"
    "PORT: a COM port name such as COM3, or on Linux a device path such as /dev/ttyUSB0;\n"
    "\"probe all\" (the default) searches every COM port. program and verify take several ports\n"
    "and run one device on each at the same time.\n"
    "\n"
    "Options:\n"
    "  --json          one JSON object per line on stdout instead of text\n"
    "  --record FILE   append the result as one JSON line to FILE\n"
    "  --repeat        station mode: start again after every run, until Ctrl-C\n"
    "  --fast          end reads as soon as the line goes quiet after a reply\n"
    "  --reset LINE    reset the device into its bootloader through the port's dtr or rts line\n"
    "                  (asserted, then released for the rest of the run), again where a person\n"
    "                  would be asked to press the reset button; needs named ports\n"
    "  --reset-ms N    how long --reset asserts the line, in milliseconds (default 100)\n"
    "  --help          this text\n"
    "  --version       the version\n"
    "      pentrel-cli firmware.hex COM3 COM4 COM5 --repeat --fast --record station.jsonl\n"
    "\n"
    "Exit status: 0 when the command did what it says, 1 for any other ending, 2 for a usage\n"
    "error.\n"
    "Each Last Status, its likely causes and what to try: README.md, \"Troubleshooting\".\n";

namespace {

constexpr const char* kCommandNames[] = {"program", "verify", "read", "info", "ports"};

bool IsCommandName(const std::string& word) {
  return std::find(std::begin(kCommandNames), std::end(kCommandNames), word) !=
         std::end(kCommandNames);
}

// "program" goes in front when the first word that is neither an option nor its value is no
// command's name.
void AddImpliedProgram(std::vector<std::string>& arguments) {
  for (size_t i = 0; i < arguments.size(); i++) {
    const std::string& word = arguments[i];
    if (word == "--record" || word == "--length" || word == "--reset" || word == "--reset-ms" ||
        word == "--parent" || word == "--image-sha256") {
      i++;
    } else if (word.size() < 2 || word[0] != '-') {
      if (!IsCommandName(word)) arguments.insert(arguments.begin(), "program");
      return;
    }
  }
}

// A --length value: decimal or 0x-hex, at least 4, a multiple of 4; false otherwise.
bool ParseLength(const std::string& text, uint32_t& length) {
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* digits = text.c_str() + (hex ? 2 : 0);
  if (*digits == '\0' || !std::all_of(digits, text.c_str() + text.size(), [hex](char c) {
        return hex ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                   : std::isdigit(static_cast<unsigned char>(c)) != 0;
      })) {
    return false;
  }
  errno = 0;
  unsigned long long value = std::strtoull(digits, nullptr, hex ? 16 : 10);
  if (errno != 0 || value == 0 || value % 4 != 0 || value > 0xFFFFFFFCull) return false;
  length = static_cast<uint32_t>(value);
  return true;
}

// A --reset-ms value: whole milliseconds from 1 to 10000.
bool ParseResetMs(const std::string& text, unsigned& milliseconds) {
  if (text.empty() || text.size() > 5 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  unsigned long value = std::stoul(text);
  if (value < 1 || value > 10000) return false;
  milliseconds = static_cast<unsigned>(value);
  return true;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// Several ports: each named once, and "probe all" only alone.
std::string CheckPorts(const Request& request) {
  std::vector<std::string> seen;
  for (const std::string& port : request.ports) {
    if (port.size() >= kPathCapacity) return "a port name is longer than 259 characters";
    if (port == "probe all" && request.ports.size() > 1) {
      return "\"probe all\" cannot be combined with other ports";
    }
    if (std::find(seen.begin(), seen.end(), Upper(port)) != seen.end()) {
      return "port " + port + " is given twice";
    }
    seen.push_back(Upper(port));
  }
  return "";
}

// --reset drives a line of the ports named; with "probe all" it would reset whatever is attached
// to every port.
std::string CheckReset(const Request& request, const std::string& resetMsText) {
  if (request.reset.empty()) return resetMsText.empty() ? "" : "--reset-ms needs --reset";
  if (request.reset != "dtr" && request.reset != "rts") return "--reset takes dtr or rts";
  if (request.command == Command::Ports) return "--reset works with program, verify, read and info";
  if (request.ports.empty()) {
    return "--reset needs a named port: with \"probe all\" it would reset every device attached";
  }
  return "";
}

std::string CheckRequest(Request& request, const std::string& lengthText) {
  if (!lengthText.empty() && !ParseLength(lengthText, request.length)) {
    return "--length takes a number of bytes above 0, a multiple of 4 (decimal or 0x-hex)";
  }
  if (request.file.size() >= kPathCapacity) return "the file name is longer than 259 characters";
  if (request.repeat && (request.command == Command::Read || request.command == Command::Ports)) {
    return "--repeat works with program, verify and info";
  }
  if (request.ports.size() == 1 && request.ports[0] == "probe all") request.ports.clear();
  return CheckPorts(request);
}

struct Parser {
  CLI::App app{"", "pentrel-cli"};
  std::string lengthText;
  std::string resetMsText;
  std::string port;  // the one port of read and info

  explicit Parser(Request& request) {
    app.set_help_flag();
    app.require_subcommand(1);
    app.add_flag("--json", request.json);
    app.add_flag("--fast", request.fast);
    app.add_flag("--repeat", request.repeat);
    app.add_option("--record", request.record);
    app.add_option("--reset", request.reset);
    app.add_option("--reset-ms", resetMsText);
    app.add_flag("--presence-check", request.presenceCheck);
    app.add_option("--parent", request.parent);
    app.add_option("--image-sha256", request.imageDigest);
    app.add_flag("--station-run", request.stationRun);
    for (const char* name : {"program", "verify"}) {
      CLI::App* command = app.add_subcommand(name)->fallthrough();
      command->add_option("HEXFILE", request.file)->required();
      command->add_option("PORT", request.ports);
    }
    CLI::App* read = app.add_subcommand("read")->fallthrough();
    read->add_option("OUTFILE", request.file)->required();
    read->add_option("PORT", port);
    read->add_option("--length", lengthText);
    app.add_subcommand("info")->fallthrough()->add_option("PORT", port);
    app.add_subcommand("ports")->fallthrough();
  }

  Command Chosen() const {
    std::string name = app.get_subcommands().front()->get_name();
    return static_cast<Command>(std::find(std::begin(kCommandNames), std::end(kCommandNames),
                                          name) - std::begin(kCommandNames));
  }
};

}  // namespace

const char* CommandName(Command command) { return kCommandNames[static_cast<int>(command)]; }

ParseOutcome ParseCommandLine(std::vector<std::string> arguments, Request& request,
                              std::string& reason) {
  for (const std::string& word : arguments) {
    if (word == "--help" || word == "-h") return ParseOutcome::Help;
    if (word == "--version") return ParseOutcome::Version;
  }
  if (arguments.empty()) {
    reason = "no command or HEX file given";
    return ParseOutcome::UsageError;
  }
  AddImpliedProgram(arguments);
  Parser parser(request);
  std::reverse(arguments.begin(), arguments.end());
  try {
    parser.app.parse(arguments);
  } catch (const CLI::ParseError& error) {
    reason = error.what();
    return ParseOutcome::UsageError;
  }
  request.command = parser.Chosen();
  if (!parser.port.empty()) request.ports = {parser.port};
  reason = CheckRequest(request, parser.lengthText);
  if (reason.empty()) reason = CheckReset(request, parser.resetMsText);
  if (reason.empty() && !parser.resetMsText.empty() &&
      !ParseResetMs(parser.resetMsText, request.resetMs)) {
    reason = "--reset-ms takes a number of milliseconds from 1 to 10000";
  }
  return reason.empty() ? ParseOutcome::Run : ParseOutcome::UsageError;
}

namespace {

// A child ends with this process (see EndWithParent).
std::vector<std::string> ChildWords(std::vector<std::string> words) {
  words.insert(words.end(), {"--json", "--parent", std::to_string(CurrentProcessId())});
  return words;
}

void AddResetArguments(const Request& request, std::vector<std::string>& words) {
  if (request.reset.empty()) return;
  words.insert(words.end(), {"--reset", request.reset, "--reset-ms", std::to_string(request.resetMs)});
}

}  // namespace

std::vector<std::string> ChildArguments(const Request& request, const std::string& port,
                                        const std::string& imageDigest) {
  std::vector<std::string> words = ChildWords({CommandName(request.command), request.file, port});
  if (request.fast) words.push_back("--fast");
  if (request.repeat) words.push_back("--station-run");
  if (!request.record.empty()) words.insert(words.end(), {"--record", request.record});
  if (!imageDigest.empty()) words.insert(words.end(), {"--image-sha256", imageDigest});
  AddResetArguments(request, words);
  return words;
}

std::vector<std::string> PresenceCheckArguments(const Request& request, const std::string& port) {
  std::vector<std::string> words = ChildWords({"info", port, "--presence-check"});
  AddResetArguments(request, words);
  return words;
}
