// The device's side of the packet framing.
#include "framing.h"

#include <numeric>

void FrameReceiver::Reset() {
  stored.clear();
  sum = 0;
  escaped = false;
  overflowed = false;
  finished = false;
}

FrameStatus FrameReceiver::Feed(std::uint8_t byte) {
  if (finished) Reset();
  if (!escaped && byte == kSync) {
    Reset();  // a sync byte starts collection over, whatever came before
    return FrameStatus::Incomplete;
  }
  if (!escaped && byte == kEndOfFrame) return Finish();
  if (!escaped && byte == kEscape) {
    escaped = true;
    return FrameStatus::Incomplete;
  }
  escaped = false;
  if (stored.size() == kMaxStoredBytes) {
    overflowed = true;
    return FrameStatus::Incomplete;
  }
  stored.push_back(byte);
  sum = static_cast<std::uint8_t>(sum + byte);
  return FrameStatus::Incomplete;
}

FrameStatus FrameReceiver::Finish() {
  finished = true;
  if (overflowed) return FrameStatus::Overflow;
  if (stored.size() <= 1) return FrameStatus::Empty;
  return sum == 0 ? FrameStatus::Complete : FrameStatus::BadChecksum;
}

std::span<const std::uint8_t> FrameReceiver::payload() const {
  if (stored.empty()) return {};
  return std::span<const std::uint8_t>(stored).first(stored.size() - 1);
}

namespace {

void PutEscaped(std::vector<std::uint8_t>& frame, std::uint8_t byte) {
  if (byte == kSync || byte == kEndOfFrame || byte == kEscape) frame.push_back(kEscape);
  frame.push_back(byte);
}

}  // namespace

std::vector<std::uint8_t> EncodeFrame(std::span<const std::uint8_t> payload, FrameShape shape) {
  std::vector<std::uint8_t> frame(4, kSync);
  frame.reserve(2 * payload.size() + 8);
  for (std::size_t i = 0; i < payload.size(); ++i) {
    if (shape.strayAt == static_cast<std::ptrdiff_t>(i)) frame.push_back(kSync);
    PutEscaped(frame, payload[i]);
  }
  if (shape.strayAt == static_cast<std::ptrdiff_t>(payload.size())) frame.push_back(kSync);
  std::uint8_t sum = std::accumulate(payload.begin(), payload.end(), std::uint8_t{0},
                                     [](std::uint8_t a, std::uint8_t b) {
                                       return static_cast<std::uint8_t>(a + b);
                                     });
  auto checksum = static_cast<std::uint8_t>(0 - sum + (shape.corruptChecksum ? 1 : 0));
  PutEscaped(frame, checksum);
  frame.push_back(kEndOfFrame);
  return frame;
}
