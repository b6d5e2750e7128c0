// The console on POSIX: UTF-8 argv, UTF-8 streams, SIGINT, SIGTERM and SIGHUP.
#include "../console.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "../text.h"
#include "open_ports.h"

namespace {

int argumentCount;
char** arguments;
void (*interruptHandler)(int exitStatus);

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The shell's convention: 128 plus the signal number.
void OnSignal(int number) {
  PutBackOpenPorts();
  interruptHandler(128 + number);
}

}  // namespace

void InitConsole(int argc, char** argv) {
  argumentCount = argc;
  arguments = argv;
  // A closed pipe makes write fail with EPIPE instead of killing the process mid-run.
  signal(SIGPIPE, SIG_IGN);
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

// Every terminal emulator takes them; TERM=dumb says this one does not.
bool ErrorTakesEscapes() {
  const char* term = getenv("TERM");
  return ErrorIsTerminal() && (term == nullptr || strcmp(term, "dumb") != 0);
}

void OnInterrupt(void (*handler)(int exitStatus)) {
  interruptHandler = handler;
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  // One ending at a time: a second signal waits for the first handler, which does not return.
  sigemptyset(&action.sa_mask);
  for (int number : kEndingSignals) sigaddset(&action.sa_mask, number);
  for (int number : kEndingSignals) sigaction(number, &action, nullptr);
}

void EndProcessNow(int code) { _exit(code); }
