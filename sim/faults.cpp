// Fault injection into replies.
#include "faults.h"

#include <algorithm>

#include "framing.h"

namespace {

constexpr std::uint8_t kGarbage[] = {0x00, 0xFF, 0x13, 0x37, 0xA5, 0x5A, 0x42, 0xEE};
constexpr std::size_t kReadHeader = 8;

}  // namespace

FaultSet FaultsFor(const std::vector<FaultRule>& rules, const CommandCounts& counts,
                   CommandKind kind) {
  FaultSet faults;
  for (const auto& rule : rules) {
    bool hit = rule.only ? *rule.only == kind &&
                               counts.ofKind[static_cast<std::size_t>(kind)] == rule.n
                         : counts.total == rule.n;
    if (hit) faults.Add(rule.kind);
  }
  return faults;
}

FaultSet DistortPayload(FaultSet faults, const Command& command,
                        std::vector<std::uint8_t>& reply) {
  FaultSet applied;
  bool isReadReply = command.kind == CommandKind::Read && reply.size() >= kReadHeader &&
                     reply[0] == command.payload[0];
  if (faults.Has(FaultKind::BadEcho) && !reply.empty()) {
    if (isReadReply)
      reply[4] = static_cast<std::uint8_t>(reply[4] + 4);  // the neighbouring word's address
    else
      reply[0] ^= 0x01;
    applied.Add(FaultKind::BadEcho);
  }
  if (faults.Has(FaultKind::BadData) && isReadReply && reply.size() > kReadHeader) {
    reply.back() ^= 0x01;
    applied.Add(FaultKind::BadData);
  }
  if (faults.Has(FaultKind::Short) && reply.size() > 1) {
    reply.resize(1);
    applied.Add(FaultKind::Short);
  }
  return applied;
}

std::vector<OutgoingByte> ShapeOnWire(FaultSet faults, const std::vector<std::uint8_t>& reply,
                                      const SimOptions& options) {
  FrameShape shape;
  shape.corruptChecksum = faults.Has(FaultKind::BadChecksum);
  // In the middle of the payload, but never before its first byte, where a sync byte would
  // just lengthen the preamble.
  if (faults.Has(FaultKind::StraySync))
    shape.strayAt = static_cast<std::ptrdiff_t>(std::max<std::size_t>(1, (reply.size() + 1) / 2));
  std::vector<std::uint8_t> bytes;
  // The burst repeats the junk pattern, which holds no sync, end or escape byte.
  for (unsigned long i = 0; faults.Has(FaultKind::Garbage) && i < options.garbageBytes; ++i)
    bytes.push_back(kGarbage[i % std::size(kGarbage)]);
  auto frame = EncodeFrame(reply, shape);
  if (faults.Has(FaultKind::CutOff)) frame.resize(frame.size() / 2);
  bytes.insert(bytes.end(), frame.begin(), frame.end());

  using std::chrono::milliseconds;
  auto start = faults.Has(FaultKind::Late) ? milliseconds(options.lateMs) : milliseconds(0);
  auto gap = faults.Has(FaultKind::Dribble) ? milliseconds(options.gapMs) : milliseconds(0);
  std::vector<OutgoingByte> wire;
  wire.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i)
    wire.push_back({bytes[i], start + gap * static_cast<long>(i)});
  return wire;
}

std::string FaultNames(FaultSet faults) {
  std::string names;
  for (const auto& info : kFaultKinds) {
    if (!faults.Has(info.kind)) continue;
    if (!names.empty()) names += ',';
    names += info.name;
  }
  return names;
}
