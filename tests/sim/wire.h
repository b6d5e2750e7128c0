// The tool's side of the packet framing, for the tests: written from the wire format apart from
// melor-sim's own code, so that a misreading of the format shows up as a disagreement.
#pragma once

#include <cstdint>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// The frame that carries `payload`: preamble, escaped payload and checksum, terminator.
Bytes WireFrame(const Bytes& payload);

struct Decoded {
  Bytes payload;  // without the checksum byte when it held, with it when it did not
  bool checksumOk = false;
};

// Reads `raw` as the tool's receiver does: a sync byte starts over, an escape makes the next
// byte data, the first terminator ends the frame.
Decoded DecodeWire(const Bytes& raw);

// A command header: code, 0, word count, address.
Bytes Header(std::uint8_t code, std::uint16_t words, std::uint32_t address);
Bytes Concat(Bytes a, const Bytes& b);
