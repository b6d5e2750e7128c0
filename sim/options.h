// melor-sim's command line: what the simulated device looks like and how it misbehaves.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "command_kind.h"
#include "fault_kind.h"

// One --fault KIND@N (the Nth command received) or KIND@CMD:N (the Nth command of one kind).
struct FaultRule {
  FaultKind kind;
  std::optional<CommandKind> only;  // empty: N counts every command
  unsigned long n;
};

// The modem line that the board's reset is wired to, if any.
enum class ResetLine { None, Dtr, Rts };

struct SimOptions {
  std::string linkPath;
  std::string dumpPath;
  std::string tracePath;
  double timeoutSeconds = 0;  // 0: serve until a signal
  std::uint32_t flashSize = 0x80000;
  std::uint8_t versionMajor = 1;
  std::uint8_t versionMinor = 2;
  std::uint8_t deviceId = 0x0F;
  std::uint8_t finalResult = 0x00;  // byte 1 of the reply to the final command
  unsigned long answerAfter = 0;    // queries to ignore before answering
  unsigned long baud = 0;           // 0: no pacing
  unsigned long burstMs = 0;        // 0: each byte reaches the tool as it crosses the line
  unsigned long lateMs = 1500;
  unsigned long gapMs = 10;
  unsigned long garbageBytes = 8;  // length of the garbage fault's burst
  std::vector<FaultRule> faults;
  ResetLine resetLine = ResetLine::None;  // None: the bootloader always listens
  bool resetHeld = false;  // the asserted line holds the board in reset, instead of pulsing it
  double bootloaderWindowSeconds = 2;
  unsigned long missResets = 0;  // resets the board does not notice
  std::string controlPath;
};

enum class ParseOutcome { Run, Help, Error };

struct ParseResult {
  ParseOutcome outcome;
  std::string error;  // set when outcome is Error
};

ParseResult ParseOptions(int argc, char** argv, SimOptions& options);

std::string HelpText();
