// The faults melor-sim can inject into its replies, and their names as used in options and the trace.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

enum class FaultKind {
  BadChecksum,  // the reply frame's checksum byte is off by one
  BadEcho,      // a read reply echoes the wrong address; any other reply has byte 0 changed
  BadData,      // the last read-back byte of a read reply has its lowest bit flipped
  NoReply,      // the command is served but nothing is sent
  Dribble,      // the reply leaves one byte at a time, a gap apart
  Garbage,      // junk bytes go out before the reply frame
  StraySync,    // an unescaped sync byte sits in the middle of the reply frame
  Late,         // the reply leaves only after a delay longer than the tool waits
  HangUp,       // the pty is closed instead of replying, and melor-sim ends
  CutOff,       // the first half of the reply frame goes out, then the pty is closed
  Short,        // the reply is cut to its first byte, in a well-formed frame
};

struct FaultKindInfo {
  FaultKind kind;
  std::string_view name;
  std::string_view help;
};

inline constexpr FaultKindInfo kFaultKinds[] = {
    {FaultKind::BadChecksum, "bad-checksum", "the reply frame's checksum byte is one too high"},
    {FaultKind::BadEcho, "bad-echo",
     "a read reply echoes the address + 4; any other reply gets byte 0 ^ 0x01"},
    {FaultKind::BadData, "bad-data", "the last byte a read reply returns gets ^ 0x01 (reads only)"},
    {FaultKind::NoReply, "no-reply", "the command is carried out but no reply is sent"},
    {FaultKind::Dribble, "dribble", "the reply is written one byte at a time, --gap-ms apart"},
    {FaultKind::Garbage, "garbage", "the bytes 00 ff 13 37 a5 5a 42 ee go out before the frame"},
    {FaultKind::StraySync, "stray-sync",
     "an unescaped 0x55 mid-frame (before the checksum of a 1-byte reply)"},
    {FaultKind::Late, "late", "the reply is written --late-ms after the command arrived"},
    {FaultKind::HangUp, "hang-up", "no reply: the pty is closed and melor-sim ends (status 0)"},
    {FaultKind::CutOff, "cut-off",
     "the first half of the reply frame goes out, then the pty is closed and melor-sim ends"},
    {FaultKind::Short, "short", "the reply is cut to its first byte, in a well-formed frame"},
};

inline std::string_view FaultKindName(FaultKind kind) {
  return kFaultKinds[static_cast<std::size_t>(kind)].name;
}

inline std::optional<FaultKind> FaultKindNamed(std::string_view name) {
  for (const auto& info : kFaultKinds)
    if (info.name == name) return info.kind;
  return std::nullopt;
}
