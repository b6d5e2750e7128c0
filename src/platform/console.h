// The console around the front end: arguments as UTF-16, UTF-8 output, whether stderr is a
// terminal, and Ctrl-C.
#pragma once

#include <cstddef>

// Keeps the process's arguments; called first thing in main.
void InitConsole(int argc, char** argv);

int ConsoleArgumentCount();

// Argument index as UTF-16 into destination; false (and empty) when it does not fit.
bool ConsoleArgument(int index, char16_t* destination, size_t capacity);

// Writes length code units of text, then a line end when newline is set, to stdout or stderr,
// as UTF-8, and flushes.
void WriteConsole(bool toError, const char16_t* text, size_t length, bool newline);

bool ErrorIsTerminal();

// Calls handler (from any thread, or a signal handler) when the user presses Ctrl-C. The handler
// must only set flags and end the process.
void OnInterrupt(void (*handler)());

// Ends the process at once with the code, without running any clean-up.
[[noreturn]] void EndProcessNow(int code);
