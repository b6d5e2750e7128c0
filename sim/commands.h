// The bootloader's command set: recognising a command payload and carrying it out on the
// simulated flash.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "command_kind.h"
#include "options.h"

constexpr std::uint32_t kFlashBase = 0x9D000000;
constexpr std::uint16_t kMaxWords = 128;  // a chunk is at most 512 bytes

// The single byte that refuses a command: it passes none of the tool's acceptance tests.
constexpr std::uint8_t kRefusal = 0x15;

struct Command {
  CommandKind kind = CommandKind::Unknown;
  std::vector<std::uint8_t> payload;
  std::uint16_t words = 0;       // header commands: the word count
  std::uint32_t address = 0;     // header commands: the bootloader address
  std::uint32_t imageLength = 0; // final command: the image length it announces
  const char* malformed = nullptr;  // why the payload is not a well-formed command, if it is not
};

Command ParseCommand(std::span<const std::uint8_t> payload);

struct Device {
  std::vector<std::uint8_t> flash;  // erased (0xFF) at start
  std::uint8_t versionMajor, versionMinor, deviceId, finalResult;
};

Device MakeDevice(const SimOptions& options);

// Writes the whole flash into file and closes it; false when either failed.
bool WriteFlash(std::FILE* file, const Device& device);

struct Reply {
  std::optional<std::vector<std::uint8_t>> payload;  // empty: the command gets no reply
  std::string refused;                               // why a refusal was sent, if one was
};

// Carries out `command` on `device` and gives the reply the bootloader sends.
Reply Execute(Device& device, const Command& command);
