// The scripted reads behind --wrap: state set by the test before the code under test runs.
#include "scripted_reads.h"

#include <algorithm>
#include <deque>
#include <map>

#include "platform/win32.h"

// On POSIX, ReadFile and WriteFile are C++ functions: --wrap takes their mangled names, and the
// linker's __wrap_ and __real_ prefixes go in front of those.
extern "C" {
BOOL __real__Z8ReadFilePvS_jPjP11_OVERLAPPED(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
BOOL __real__Z9WriteFilePvPKvjPjP11_OVERLAPPED(HANDLE, const void*, DWORD, LPDWORD, LPOVERLAPPED);
}

namespace {

std::deque<std::vector<uint8_t>> script;
bool failAfterScript = false;
std::map<uint8_t, int> holds;
int readsSinceWrite = 0;
int readsMade = 0;

constexpr size_t kPreambleLength = 4;

}  // namespace

void ScriptReads(std::vector<std::vector<uint8_t>> pieces, bool failAfter) {
  script.assign(pieces.begin(), pieces.end());
  failAfterScript = failAfter;
  holds.clear();
  readsSinceWrite = readsMade = 0;
}

void HoldReplies(uint8_t code, int empties) { holds[code] = empties; }

int ReadsSinceLastWrite() { return readsSinceWrite; }
int ReadsMade() { return readsMade; }

extern "C" BOOL __wrap__Z8ReadFilePvS_jPjP11_OVERLAPPED(HANDLE port, LPVOID buffer, DWORD toRead,
                                                        LPDWORD read, LPOVERLAPPED o) {
  readsSinceWrite++;
  readsMade++;
  if (script.empty() && !failAfterScript)
    return __real__Z8ReadFilePvS_jPjP11_OVERLAPPED(port, buffer, toRead, read, o);
  *read = 0;
  if (script.empty()) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  std::vector<uint8_t> piece = std::move(script.front());
  script.pop_front();
  *read = static_cast<DWORD>(std::min<size_t>(piece.size(), toRead));
  std::copy_n(piece.begin(), *read, static_cast<uint8_t*>(buffer));
  return TRUE;
}

// The commands' codes are never escaped, so the payload's first byte follows the preamble.
extern "C" BOOL __wrap__Z9WriteFilePvPKvjPjP11_OVERLAPPED(HANDLE port, const void* data,
                                                          DWORD toWrite, LPDWORD written,
                                                          LPOVERLAPPED o) {
  readsSinceWrite = 0;
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  auto hold = toWrite > kPreambleLength ? holds.find(bytes[kPreambleLength]) : holds.end();
  if (hold != holds.end()) script.insert(script.end(), hold->second, std::vector<uint8_t>{});
  return __real__Z9WriteFilePvPKvjPjP11_OVERLAPPED(port, data, toWrite, written, o);
}
