// Line reads over a file, in fixed chunks held in static storage.
#include "image/hex_line_reader.h"

#include <cstring>

namespace {

constexpr size_t kChunkSize = 64 * 1024;

struct HexLineSource {
  FILE* file;
  unsigned char chunk[kChunkSize];
  size_t next;   // the first byte of chunk not yet delivered
  size_t end;    // one past the last byte read into chunk
  bool atEnd;    // the file has nothing more to give
  bool failed;   // the file could not be read
};

HexLineSource source;

// Reads the next chunk once the last one is used up; false when the file is exhausted.
bool Refill() {
  if (source.atEnd) return false;
  source.next = 0;
  source.end = fread(source.chunk, 1, kChunkSize, source.file);
  if (source.end == 0) {
    source.atEnd = true;
    source.failed = ferror(source.file) != 0;
    return false;
  }
  return true;
}

inline bool HaveByte() { return source.next < source.end || Refill(); }

// The next character as a read delivers it, with CR LF joined into '\n'; -1 at the end.
int NextCharacter() {
  if (!HaveByte()) return -1;
  int c = source.chunk[source.next++];
  if (c == '\r' && HaveByte() && source.chunk[source.next] == '\n') {
    source.next++;
    c = '\n';
  }
  return c;
}

// Copies characters up to the next CR or LF, at most room of them and no further than the
// chunk holds; returns how many were copied.
int CopyPlainCharacters(char* out, int room) {
  size_t available = source.end - source.next;
  size_t limit = available < static_cast<size_t>(room) ? available : room;
  const unsigned char* from = source.chunk + source.next;
  size_t n = 0;
  while (n < limit && from[n] != '\n' && from[n] != '\r') n++;
  memcpy(out, from, n);
  source.next += n;
  return static_cast<int>(n);
}

}  // namespace

void BeginHexLines(FILE* file) {
  setvbuf(file, nullptr, _IONBF, 0);
  source.file = file;
  source.next = 0;
  source.end = 0;
  source.atEnd = false;
  source.failed = false;
}

int ReadHexLine(char (&line)[kHexLineCapacity]) {
  int length = 0;
  while (length < kHexLineCapacity - 1 && HaveByte()) {
    length += CopyPlainCharacters(line + length, kHexLineCapacity - 1 - length);
    if (length == kHexLineCapacity - 1 || source.next == source.end) continue;
    int c = NextCharacter();  // a CR or LF: the line may end here
    line[length++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  line[length] = '\0';
  return length == 0 ? -1 : length;
}

bool HexLinesFailed() { return source.failed; }
