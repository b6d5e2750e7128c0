// The scripted reads behind --wrap: state set by the test before the code under test runs.
#include "scripted_reads.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>

#include "platform/win32.h"

// On POSIX, ReadFile and WriteFile are C++ functions: --wrap takes their mangled names, and the
// linker's __wrap_ and __real_ prefixes go in front of those.
#define READ_FILE _Z8ReadFilePvS_jPjP11_OVERLAPPED
#define WRITE_FILE _Z9WriteFilePvPKvjPjP11_OVERLAPPED
#define PREFIXED(prefix, name) PREFIXED2(prefix, name)
#define PREFIXED2(prefix, name) prefix##name
extern "C" {
BOOL PREFIXED(__real_, READ_FILE)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
BOOL PREFIXED(__real_, WRITE_FILE)(HANDLE, const void*, DWORD, LPDWORD, LPOVERLAPPED);
BOOL PREFIXED(__wrap_, READ_FILE)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
BOOL PREFIXED(__wrap_, WRITE_FILE)(HANDLE, const void*, DWORD, LPDWORD, LPOVERLAPPED);
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

BOOL PREFIXED(__wrap_, READ_FILE)(HANDLE port, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED o) {
  readsSinceWrite++;
  readsMade++;
  if (script.empty() && !failAfterScript) return PREFIXED(__real_, READ_FILE)(port, buffer, toRead, read, o);
  *read = 0;
  if (script.empty()) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  std::vector<uint8_t> piece = std::move(script.front());
  script.pop_front();
  DWORD count = static_cast<DWORD>(std::min<size_t>(piece.size(), toRead));
  if (count > 0) memcpy(buffer, piece.data(), count);
  *read = count;
  return TRUE;
}

// The commands' codes are never escaped, so the payload's first byte follows the preamble.
BOOL PREFIXED(__wrap_, WRITE_FILE)(HANDLE port, const void* data, DWORD toWrite, LPDWORD written,
                      LPOVERLAPPED o) {
  readsSinceWrite = 0;
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  auto hold = toWrite > kPreambleLength ? holds.find(bytes[kPreambleLength]) : holds.end();
  if (hold != holds.end()) script.insert(script.end(), hold->second, std::vector<uint8_t>{});
  return PREFIXED(__real_, WRITE_FILE)(port, data, toWrite, written, o);
}
