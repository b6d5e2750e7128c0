// The console around the front end: arguments as UTF-16, text output, whether stderr is a
// terminal, and the ways a user or the system ends the program (Ctrl-C, SIGTERM, SIGHUP).
#pragma once

#include <cstddef>

// Keeps the process's arguments and sets up the streams; called first thing in main. A write to
// a stream whose reader has gone (a closed pipe) is dropped and the program goes on.
void InitConsole(int argc, char** argv);

int ConsoleArgumentCount();

// Argument index as UTF-16 into destination; false (and empty) when it does not fit.
bool ConsoleArgument(int index, char16_t* destination, size_t capacity);

// Writes length code units of text, then a line end when newline is set, to stdout or stderr,
// and flushes: as UTF-8 to a file or pipe, as text to a console.
void WriteConsole(bool toError, const char16_t* text, size_t length, bool newline);

bool ErrorIsTerminal();

// Whether stderr, a terminal, redraws with escape sequences ("\x1b[K"); without them a line is
// redrawn by overwriting it after a plain "\r".
bool ErrorTakesEscapes();

// Calls handler (from any thread, or a signal handler) when the program is told to end: Ctrl-C,
// and on POSIX SIGTERM and SIGHUP, or the console closing on Windows. The handler gets the
// conventional exit status (130, 143, 129) and must only set flags and end the process. On POSIX,
// serial ports still open have their terminal settings put back before it is called.
void OnInterrupt(void (*handler)(int exitStatus));

// Ends the process at once with the code, without running any clean-up.
[[noreturn]] void EndProcessNow(int code);
