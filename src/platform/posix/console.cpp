// The console on POSIX: argv as bytes, UTF-8 streams written a whole line at a time, SIGINT,
// SIGTERM and SIGHUP.
#include "../console.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

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

// Writes all of bytes, going on after a short write, a signal, or a full non-blocking stream;
// stops when the reader has gone (the pipe closed) or the stream fails.
void WriteWhole(int fd, const char* bytes, size_t size) {
  while (size > 0) {
    ssize_t written = write(fd, bytes, size);
    if (written < 0 && errno == EAGAIN) {
      pollfd ready = {fd, POLLOUT, 0};
      poll(&ready, 1, -1);
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    bytes += written;
    size -= static_cast<size_t>(written);
  }
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
  // The line and its end in one write: a pipe keeps a write of up to PIPE_BUF bytes in one
  // piece, so the lines of processes that share it (JSON readers) never mix.
  std::vector<char> line(3 * length + 2);  // at most 3 bytes a code unit, a line end, a terminator
  Utf16ToUtf8(text, length, line.data(), line.size());
  size_t size = strlen(line.data());
  if (newline) line[size++] = '\n';
  WriteWhole(toError ? STDERR_FILENO : STDOUT_FILENO, line.data(), size);
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
