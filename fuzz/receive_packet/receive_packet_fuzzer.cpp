// libFuzzer harness for ReceivePacket. The input is a script of reads: byte 0 gives retries
// (0 to 3), then each piece is a length byte (taken modulo 41; 0 is an empty read) followed by
// that many bytes. Checks that the outputs are consistent, that the length stays within the
// receive buffer, and that the same bytes give the same answer however they are split.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "log/message_log.h"
#include "scripted_reads.h"
#include "serial/framing.h"

namespace {

using Piece = std::vector<uint8_t>;

struct Answer {
  int result;
  int32_t length;
  Piece payload;
  bool operator==(const Answer&) const = default;
};

std::vector<Piece> ParsePieces(const uint8_t* data, size_t size) {
  std::vector<Piece> pieces;
  size_t at = 0;
  while (at < size) {
    size_t length = data[at++] % (kReadChunkSize + 1);
    if (length > size - at) length = size - at;
    pieces.emplace_back(data + at, data + at + length);
    at += length;
  }
  return pieces;
}

Answer Receive(std::vector<Piece> pieces, uint32_t retries) {
  ScriptReads(std::move(pieces));
  HANDLE port = reinterpret_cast<HANDLE>(static_cast<intptr_t>(1));
  const uint8_t* data = reinterpret_cast<const uint8_t*>(&retries);  // must be overwritten
  int32_t length = -99;
  Answer answer{ReceivePacket(port, &data, &length, retries), length, {}};
  if (answer.result == 1 && (data != nullptr || length != 0)) abort();
  if (answer.result == 0) {
    if (data == nullptr || length < -1 || length > kReceiveBufferSize) abort();
    answer.payload.assign(data, data + length);
  }
  if (answer.result != 0 && answer.result != 1) abort();
  return answer;
}

// The same bytes, without the empty reads, in pieces of the given size.
std::vector<Piece> Resplit(const std::vector<Piece>& pieces, size_t size) {
  Piece all;
  for (const Piece& piece : pieces) all.insert(all.end(), piece.begin(), piece.end());
  std::vector<Piece> resplit;
  for (size_t at = 0; at < all.size(); at += size) {
    resplit.emplace_back(all.begin() + at, all.begin() + std::min(all.size(), at + size));
  }
  return resplit;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InitMessageLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::vector<Piece> pieces = ParsePieces(data + 1, size - 1);
  Receive(pieces, data[0] % 4);
  // Without empty reads, the split must not change the answer.
  Answer bytewise = Receive(Resplit(pieces, 1), 0);
  Answer chunked = Receive(Resplit(pieces, kReadChunkSize), 0);
  if (!(bytewise == chunked)) abort();
  return 0;
}
