// Scripted ReadFile (and a WriteFile that always fails), linked only into the fuzz harness.
#include "scripted_reads.h"

#include <algorithm>
#include <cstring>

#include "platform/win32.h"

namespace {

std::vector<std::vector<uint8_t>> script;
size_t nextPiece = 0;

}  // namespace

void ScriptReads(std::vector<std::vector<uint8_t>> pieces) {
  script = std::move(pieces);
  nextPiece = 0;
}

BOOL ReadFile(HANDLE, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
  *read = 0;
  if (nextPiece == script.size()) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  const std::vector<uint8_t>& piece = script[nextPiece++];
  DWORD count = static_cast<DWORD>(std::min<size_t>(piece.size(), toRead));
  if (count > 0) memcpy(buffer, piece.data(), count);
  *read = count;
  return TRUE;
}

BOOL WriteFile(HANDLE, const void*, DWORD, LPDWORD written, LPOVERLAPPED) {
  *written = 0;
  SetLastError(ERROR_GEN_FAILURE);
  return FALSE;
}
