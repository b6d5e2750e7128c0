// The tool's side of the packet framing, for the tests.
#include "wire.h"

namespace {

bool NeedsEscape(std::uint8_t b) { return b == 0x55 || b == 0x04 || b == 0x05; }

}  // namespace

Bytes WireFrame(const Bytes& payload) {
  Bytes frame = {0x55, 0x55, 0x55, 0x55};
  unsigned sum = 0;
  for (std::uint8_t b : payload) sum += b;
  Bytes body = payload;
  body.push_back(static_cast<std::uint8_t>(256 - sum % 256));
  for (std::uint8_t b : body) {
    if (NeedsEscape(b)) frame.push_back(0x05);
    frame.push_back(b);
  }
  frame.push_back(0x04);
  return frame;
}

Decoded DecodeWire(const Bytes& raw) {
  Bytes stored;
  bool escape = false;
  for (std::uint8_t b : raw) {
    if (escape) {
      stored.push_back(b);
      escape = false;
    } else if (b == 0x55) {
      stored.clear();
    } else if (b == 0x04) {
      break;
    } else if (b == 0x05) {
      escape = true;
    } else {
      stored.push_back(b);
    }
  }
  unsigned sum = 0;
  for (std::uint8_t b : stored) sum += b;
  Decoded decoded{stored, sum % 256 == 0 && !stored.empty()};
  if (decoded.checksumOk) decoded.payload.pop_back();
  return decoded;
}

Bytes Header(std::uint8_t code, std::uint16_t words, std::uint32_t address) {
  return {code,
          0x00,
          static_cast<std::uint8_t>(words),
          static_cast<std::uint8_t>(words >> 8),
          static_cast<std::uint8_t>(address),
          static_cast<std::uint8_t>(address >> 8),
          static_cast<std::uint8_t>(address >> 16),
          static_cast<std::uint8_t>(address >> 24)};
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
