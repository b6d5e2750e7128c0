// Fault injection: which faults hit a command's reply, and how each changes the reply's payload,
// its frame and its timing on the wire.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "commands.h"
#include "options.h"

// Commands received so far: in all, and of each kind (the current one included).
struct CommandCounts {
  unsigned long total = 0;
  std::array<unsigned long, kCommandKindCount> ofKind{};
};

struct FaultSet {
  unsigned bits = 0;
  bool Has(FaultKind kind) const { return bits & (1u << static_cast<unsigned>(kind)); }
  void Add(FaultKind kind) { bits |= 1u << static_cast<unsigned>(kind); }
  bool Empty() const { return bits == 0; }
};

// The faults aimed at the command just counted, whose kind is `kind`.
FaultSet FaultsFor(const std::vector<FaultRule>& rules, const CommandCounts& counts,
                   CommandKind kind);

// Changes what the reply says (bad-echo, bad-data, short); gives back the faults that took effect.
FaultSet DistortPayload(FaultSet faults, const Command& command, std::vector<std::uint8_t>& reply);

struct OutgoingByte {
  std::uint8_t byte;
  std::chrono::nanoseconds after;  // earliest departure, counted from when the reply is ready
};

// The reply's bytes on the wire with the framing and timing faults applied (bad-checksum,
// stray-sync, garbage, late, dribble).
std::vector<OutgoingByte> ShapeOnWire(FaultSet faults, const std::vector<std::uint8_t>& reply,
                                      const SimOptions& options);

// "bad-data,late" or "" for no fault.
std::string FaultNames(FaultSet faults);
