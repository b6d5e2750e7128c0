// Line reads over a file, in fixed chunks held in static storage.
#include "image/hex_line_reader.h"

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

// Refills the chunk when it is used up; false when the file is exhausted.
bool HaveByte() {
  if (source.next < source.end) return true;
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
  while (length < kHexLineCapacity - 1) {
    int c = NextCharacter();
    if (c < 0) break;
    line[length++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  line[length] = '\0';
  return length == 0 ? -1 : length;
}

bool HexLinesFailed() { return source.failed; }
