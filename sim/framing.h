// The device's side of the packet framing: collecting command frames from the line byte by byte,
// and wrapping reply payloads into frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

constexpr std::uint8_t kSync = 0x55;
constexpr std::uint8_t kEndOfFrame = 0x04;
constexpr std::uint8_t kEscape = 0x05;

// Larger than any command (520 payload bytes and a checksum); beyond it a frame is dropped whole.
constexpr std::size_t kMaxStoredBytes = 2048;

enum class FrameStatus {
  Incomplete,   // no terminator yet
  Complete,     // a frame whose checksum holds; payload() is its payload
  BadChecksum,  // a frame whose bytes do not sum to 0
  Empty,        // a terminator with nothing, or only a checksum byte, before it
  Overflow,     // more than kMaxStoredBytes before the terminator
};

struct FrameReceiver {
  std::vector<std::uint8_t> stored;  // payload bytes and the checksum byte, unescaped
  std::uint8_t sum = 0;
  bool escaped = false;
  bool overflowed = false;

  // Takes one byte from the line. After any status but Incomplete the receiver starts afresh,
  // except that payload() stays readable until the next byte is fed.
  FrameStatus Feed(std::uint8_t byte);
  std::span<const std::uint8_t> payload() const;
  std::size_t storedCount() const { return stored.size(); }
  void Reset();

  bool finished = false;  // the last byte fed ended a frame
  FrameStatus Finish();
};

// The frame for `payload`. With corruptChecksum the checksum byte is one too high (and still
// escaped as needed). strayAt, when set, puts an unescaped sync byte before payload byte strayAt
// (payload.size() means before the checksum byte).
struct FrameShape {
  bool corruptChecksum = false;
  std::ptrdiff_t strayAt = -1;
};
std::vector<std::uint8_t> EncodeFrame(std::span<const std::uint8_t> payload, FrameShape shape = {});
