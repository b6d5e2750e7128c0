// The console on POSIX: UTF-8 argv, UTF-8 streams, SIGINT.
#include "../console.h"

#include <signal.h>
#include <unistd.h>

#include "../text.h"

namespace {

int argumentCount;
char** arguments;
void (*interruptHandler)();

void OnSignal(int) { interruptHandler(); }

}  // namespace

void InitConsole(int argc, char** argv) {
  argumentCount = argc;
  arguments = argv;
}

int ConsoleArgumentCount() { return argumentCount; }

bool ConsoleArgument(int index, char16_t* destination, size_t capacity) {
  if (index < 0 || index >= argumentCount) {
    if (capacity > 0) destination[0] = u'\0';
    return false;
  }
  return Utf8ToUtf16(arguments[index], destination, capacity);
}

void WriteConsole(bool toError, const char16_t* text, size_t length, bool newline) {
  // Converted in pieces, so that a line of any length goes out whole.
  char utf8[4 * 64 + 2];
  char16_t piece[65];
  int fd = toError ? STDERR_FILENO : STDOUT_FILENO;
  for (size_t done = 0; done < length;) {
    size_t count = length - done < 64 ? length - done : 64;
    // Never split a surrogate pair between two pieces.
    if (count == 64 && text[done + 63] >= 0xD800 && text[done + 63] <= 0xDBFF) count = 63;
    for (size_t i = 0; i < count; i++) piece[i] = text[done + i];
    piece[count] = u'\0';
    Utf16ToUtf8(piece, utf8, sizeof utf8);
    size_t size = 0;
    while (utf8[size] != '\0') size++;
    if (write(fd, utf8, size) < 0) return;
    done += count;
  }
  if (newline && write(fd, "\n", 1) < 0) return;
}

bool ErrorIsTerminal() { return isatty(STDERR_FILENO) != 0; }

void OnInterrupt(void (*handler)()) {
  interruptHandler = handler;
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void EndProcessNow(int code) { _exit(code); }
