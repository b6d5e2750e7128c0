// The bootloader's command set on the simulated flash.
#include "commands.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint8_t kQueryCode = 0x09, kProgramCode = 0x02, kBlankCode = 0x22,
                       kReadCode = 0x01, kFinalCode = 0x08, kCloseCode = 0x00;
constexpr std::size_t kHeaderSize = 8;

std::uint32_t LittleEndian(std::span<const std::uint8_t> bytes) {
  std::uint32_t value = 0;
  for (std::size_t i = bytes.size(); i-- > 0;) value = (value << 8) | bytes[i];
  return value;
}

CommandKind KindOfCode(std::uint8_t code) {
  switch (code) {
    case kQueryCode: return CommandKind::Query;
    case kProgramCode: return CommandKind::Program;
    case kBlankCode: return CommandKind::Blank;
    case kReadCode: return CommandKind::Read;
    case kFinalCode: return CommandKind::Final;
    case kCloseCode: return CommandKind::Close;
    default: return CommandKind::Unknown;
  }
}

bool AllZero(std::span<const std::uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

// The checks shared by program, blank and read: byte 1, word count, address alignment and length.
const char* HeaderFault(const Command& command, std::size_t expectedLength) {
  if (command.payload[1] != 0) return "byte-1-not-zero";
  if (command.words == 0 || command.words > kMaxWords) return "word-count";
  if (command.address % 4 != 0) return "misaligned";
  if (command.payload.size() != expectedLength) return "length";
  return nullptr;
}

const char* Malformation(const Command& command) {
  const auto& p = command.payload;
  switch (command.kind) {
    case CommandKind::Query:
      return p.size() == 3 && p[1] == 0 && p[2] == 0 ? nullptr : "query-layout";
    case CommandKind::Close:
      return p.size() == 6 && AllZero(p) ? nullptr : "close-layout";
    case CommandKind::Final:
      return p.size() == 8 && p[1] == 0x00 && p[2] == 0x01 && p[3] == 0x01 ? nullptr
                                                                             : "final-layout";
    case CommandKind::Program:
      return HeaderFault(command, kHeaderSize + 4u * command.words);
    case CommandKind::Blank:
    case CommandKind::Read:
      return HeaderFault(command, kHeaderSize);
    case CommandKind::Unknown:
      return "unknown-code";
  }
  return "unknown-code";
}

// The flash bytes a header command addresses, or an empty span when any of them lies outside.
std::span<std::uint8_t> Chunk(Device& device, const Command& command) {
  std::uint64_t count = 4ull * command.words;
  if (command.address < kFlashBase) return {};
  std::uint64_t offset = command.address - kFlashBase;
  if (offset + count > device.flash.size()) return {};
  return std::span<std::uint8_t>(device.flash).subspan(offset, count);
}

Reply Refuse(std::string why) { return {std::vector<std::uint8_t>{kRefusal}, std::move(why)}; }

Reply Answer(std::vector<std::uint8_t> payload) { return {std::move(payload), ""}; }

}  // namespace

Command ParseCommand(std::span<const std::uint8_t> payload) {
  Command command;
  command.payload.assign(payload.begin(), payload.end());
  command.kind = KindOfCode(payload[0]);
  if (payload.size() >= kHeaderSize) {
    command.words = static_cast<std::uint16_t>(LittleEndian(payload.subspan(2, 2)));
    command.address = LittleEndian(payload.subspan(4, 4));
    if (command.kind == CommandKind::Final) command.imageLength = command.address;
  }
  command.malformed = Malformation(command);
  return command;
}

Device MakeDevice(const SimOptions& options) {
  return Device{std::vector<std::uint8_t>(options.flashSize, 0xFF), options.versionMajor,
                options.versionMinor, options.deviceId, options.finalResult};
}

bool WriteFlash(std::FILE* file, const Device& device) {
  bool written = std::fwrite(device.flash.data(), 1, device.flash.size(), file) ==
                 device.flash.size();
  return std::fclose(file) == 0 && written;
}

Reply Execute(Device& device, const Command& command) {
  if (command.malformed) return Refuse(command.malformed);
  switch (command.kind) {
    case CommandKind::Query: {
      auto size = static_cast<std::uint32_t>(device.flash.size());
      return Answer({static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(size >> 8),
                     static_cast<std::uint8_t>(size >> 16), static_cast<std::uint8_t>(size >> 24),
                     device.versionMajor, device.versionMinor, device.deviceId, 0, 0, 0, 0, 0});
    }
    case CommandKind::Program:
    case CommandKind::Blank: {
      auto chunk = Chunk(device, command);
      if (chunk.empty()) return Refuse("out-of-flash");
      if (command.kind == CommandKind::Blank)
        std::fill(chunk.begin(), chunk.end(), 0xFF);
      else
        std::copy_n(command.payload.begin() + kHeaderSize, chunk.size(), chunk.begin());
      return Answer({command.payload[0]});
    }
    case CommandKind::Read: {
      auto chunk = Chunk(device, command);
      if (chunk.empty()) return Refuse("out-of-flash");
      std::vector<std::uint8_t> reply(command.payload.begin(),
                                      command.payload.begin() + kHeaderSize);
      reply.insert(reply.end(), chunk.begin(), chunk.end());
      return Answer(std::move(reply));
    }
    case CommandKind::Final:
      return Answer({kFinalCode, device.finalResult});
    case CommandKind::Close:
      return {std::nullopt, ""};  // the session is over: nothing to say
    case CommandKind::Unknown:
      break;
  }
  return Refuse("unknown-code");
}
