// Packet framing on the serial line: a preamble of four 0x55, the payload with 0x55, 0x04 and
// 0x05 escaped by 0x05, a checksum byte that makes payload and checksum sum to 0, and 0x04.
#pragma once

#include <cstdint>

#include "platform/win32.h"

constexpr int kTransmitBufferSize = 2048;
constexpr int kReceiveBufferSize = 2048;
constexpr int kReadChunkSize = 40;

// Frames the payload and writes it in one write. 0 when the whole frame was written, 1 otherwise
// (logged). A length of 0 or less sends an empty payload.
int SendPacket(HANDLE port, const uint8_t* payload, int32_t length);

// Whether the frame that the last successful ReceivePacket returned failed its checksum (its
// length then counts the checksum byte).
bool LastFrameFailedChecksum();

// Reads until one frame has ended. 0 with *data at the payload (valid until the next call) and
// *length its length; 1 with null and 0 when reading failed or more than retries empty reads came.
int ReceivePacket(HANDLE port, const uint8_t** data, int32_t* length, uint32_t retries);
