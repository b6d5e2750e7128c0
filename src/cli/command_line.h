// pentrel-cli's command line: which command, on which file and ports, with which options.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class Command { Program, Verify, Read, Info, Ports };

struct Request {
  Command command = Command::Program;
  std::string file;                // HEXFILE, or OUTFILE for read; UTF-8
  std::vector<std::string> ports;  // as given; empty for "probe all"
  uint32_t length = 0;             // read's --length; 0 for the device's flash size
  bool json = false;
  bool fast = false;
  bool repeat = false;
  std::string record;              // --record FILE; empty when not given
  std::string reset;               // --reset LINE: "dtr" or "rts"; empty when not given
  unsigned resetMs = 100;          // --reset-ms: how long the line is asserted
  bool presenceCheck = false;      // a station's look for a board: give up where --reset would
                                   // reset the device again
  // Set only by a parent on the command lines of its children (see ChildArguments).
  unsigned parent = 0;             // --parent PID: the process whose end ends this one
  std::string imageDigest;         // --image-sha256 HEX: the only image this run may use
  bool stationRun = false;         // --station-run: one run of a station
};

enum class ParseOutcome { Run, Help, Version, UsageError };

// Parses the arguments (UTF-8, the program's name left out) into request; on UsageError, reason
// holds the one-line reason.
ParseOutcome ParseCommandLine(std::vector<std::string> arguments, Request& request,
                              std::string& reason);

// The command's name as the command line spells it.
const char* CommandName(Command command);

// The arguments that run the request again as one of several children of this process: one
// port, results as JSON, the child's own record line, and the image digest when not empty.
std::vector<std::string> ChildArguments(const Request& request, const std::string& port,
                                        const std::string& imageDigest);

// The arguments of a station's look, with --reset, for whether a board answers on the port.
std::vector<std::string> PresenceCheckArguments(const Request& request, const std::string& port);

extern const char kHelpText[];
