// Packet framing: SendPacket builds a whole frame in the transmit buffer and writes it at once;
// ReceivePacket reads 40 bytes at a time and unwraps one frame into the receive buffer.
#include "serial/framing.h"

#include "log/message_log.h"

namespace {

constexpr uint8_t kSync = 0x55;
constexpr uint8_t kEnd = 0x04;
constexpr uint8_t kEscape = 0x05;
constexpr int kPreambleLength = 4;
// Even when every byte needs an escape, a payload this long frames into 2 × 1020 + 7 = 2047
// bytes; anything longer is refused whole rather than sent cut.
constexpr int32_t kMaxPayload = (kTransmitBufferSize - 7) / 2;

uint8_t transmitBuffer[kTransmitBufferSize];
uint8_t receiveBuffer[kReceiveBufferSize];
bool lastFrameFailedChecksum;

bool IsSpecial(uint8_t byte) { return byte == kSync || byte == kEnd || byte == kEscape; }

int AppendEscaped(uint8_t byte, int position) {
  if (IsSpecial(byte)) transmitBuffer[position++] = kEscape;
  transmitBuffer[position++] = byte;
  return position;
}

// Frames the payload into the transmit buffer; returns the frame length.
int BuildFrame(const uint8_t* payload, int32_t length) {
  int position = 0;
  while (position < kPreambleLength) transmitBuffer[position++] = kSync;
  uint8_t sum = 0;
  for (int32_t i = 0; i < length; i++) {
    position = AppendEscaped(payload[i], position);
    sum = static_cast<uint8_t>(sum + payload[i]);
  }
  position = AppendEscaped(static_cast<uint8_t>(0 - sum), position);
  transmitBuffer[position++] = kEnd;
  return position;
}

// What one ReceivePacket call has collected so far, across its reads.
struct Collection {
  int32_t stored = 0;
  uint8_t sum = 0;
  bool escaped = false;
};

enum class Step { More, FrameEnd, Overrun };

Step Store(Collection& frame, uint8_t byte) {
  if (frame.stored == kReceiveBufferSize) return Step::Overrun;
  receiveBuffer[frame.stored++] = byte;
  frame.sum = static_cast<uint8_t>(frame.sum + byte);
  return Step::More;
}

// Takes one received byte. A 0x55 restarts the collection; a 0x04 ends the frame even with
// nothing stored, which the caller receives as length -1 and, expecting no negative length,
// refuses as a wrong answer.
Step Take(Collection& frame, uint8_t byte) {
  if (frame.escaped) {
    frame.escaped = false;
    return Store(frame, byte);
  }
  switch (byte) {
    case kSync:
      frame.stored = 0;
      frame.sum = 0;
      return Step::More;
    case kEnd:
      return Step::FrameEnd;
    case kEscape:
      frame.escaped = true;
      return Step::More;
    default:
      return Store(frame, byte);
  }
}

int Fail(const uint8_t** data, int32_t* length) {
  *data = nullptr;
  *length = 0;
  return 1;
}

int Deliver(const Collection& frame, const uint8_t** data, int32_t* length) {
  *length = frame.stored - 1;
  lastFrameFailedChecksum = frame.sum != 0;
  if (lastFrameFailedChecksum) {
    // The checksum byte stays counted, so that the length tells the caller the frame is bad.
    LogMessage(u"checksum error on rx");
    *length = frame.stored;
  }
  *data = receiveBuffer;
  return 0;
}

}  // namespace

bool LastFrameFailedChecksum() { return lastFrameFailedChecksum; }

int SendPacket(HANDLE port, const uint8_t* payload, int32_t length) {
  if (length > kMaxPayload) {
    LogMessage(u"SendPacket payload too long (%d bytes)", length);
    return 1;
  }
  int frameLength = BuildFrame(payload, length);
  DWORD written = 0;
  if (!WriteFile(port, transmitBuffer, static_cast<DWORD>(frameLength), &written, nullptr)) {
    LogMessage(u"SendPacket failed with error %x", GetLastError());
    return 1;
  }
  if (written != static_cast<DWORD>(frameLength)) {
    LogMessage(u"SendPacket short write, expected %d wrote %d", frameLength,
               static_cast<int32_t>(written));
    return 1;
  }
  return 0;
}

int ReceivePacket(HANDLE port, const uint8_t** data, int32_t* length, uint32_t retries) {
  Collection frame;
  uint8_t chunk[kReadChunkSize];
  while (true) {
    DWORD count = 0;
    if (!ReadFile(port, chunk, kReadChunkSize, &count, nullptr)) {
      LogMessage(u"failed with error %x", GetLastError());
      return Fail(data, length);
    }
    if (count == 0) {
      if (retries == 0) return Fail(data, length);
      retries--;
      continue;
    }
    for (DWORD i = 0; i < count; i++) {
      Step step = Take(frame, chunk[i]);
      if (step == Step::FrameEnd) return Deliver(frame, data, length);
      if (step == Step::Overrun) {
        LogMessage(u"rx overrun: more than %d bytes without a frame end", kReceiveBufferSize);
        return Fail(data, length);
      }
    }
  }
}
