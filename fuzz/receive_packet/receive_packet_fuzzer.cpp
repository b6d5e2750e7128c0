// libFuzzer harness for ReceivePacket. The input is a script of reads: byte 0 gives retries
// (0 to 3), then each piece is a length byte (taken modulo 41; 0 is an empty read) followed by
// that many bytes. Checks that the outputs are consistent, that the length stays within the
// receive buffer, and that the same bytes give the same answer however they are split.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <tuple>
#include <vector>

#include "log/message_log.h"
#include "scripted_reads.h"
#include "serial/framing.h"

namespace {

using Piece = std::vector<uint8_t>;

// ReceivePacket's result, length and payload, once they are checked to agree.
std::tuple<int, int32_t, Piece> Receive(std::vector<Piece> pieces, uint32_t retries) {
  ScriptReads(std::move(pieces));
  HANDLE port = reinterpret_cast<HANDLE>(static_cast<intptr_t>(1));
  const uint8_t* data = reinterpret_cast<const uint8_t*>(&retries);  // must be overwritten
  int32_t length = -99;
  int result = ReceivePacket(port, &data, &length, retries);
  if (result != 0 && result != 1) abort();
  if (result == 1 && (data != nullptr || length != 0)) abort();
  if (result == 0 && (data == nullptr || length < -1 || length > kReceiveBufferSize)) abort();
  // An empty frame comes back as length -1: no payload to copy.
  return {result, length, result == 0 && length > 0 ? Piece(data, data + length) : Piece{}};
}

// The bytes in pieces of the given size, with no empty reads.
std::vector<Piece> Split(const Piece& all, size_t size) {
  std::vector<Piece> pieces;
  for (size_t at = 0; at < all.size(); at += size)
    pieces.emplace_back(all.begin() + at, all.begin() + std::min(all.size(), at + size));
  return pieces;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InitMessageLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::vector<Piece> pieces;
  Piece all;
  for (size_t at = 1; at < size;) {
    size_t length = std::min<size_t>(data[at] % (kReadChunkSize + 1), size - at - 1);
    pieces.emplace_back(data + at + 1, data + at + 1 + length);
    all.insert(all.end(), data + at + 1, data + at + 1 + length);
    at += length + 1;
  }
  Receive(pieces, data[0] % 4);
  // Without empty reads, the split must not change the answer.
  if (Receive(Split(all, 1), 0) != Receive(Split(all, kReadChunkSize), 0)) abort();
  return 0;
}
