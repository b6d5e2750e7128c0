// The console on Windows: wide arguments from the command line; text to a console through
// WriteConsoleW (so any character shows whatever the console's code page), UTF-8 to a file or
// pipe; escape sequences where the console can take them; Ctrl-C and the console closing.
#include "../console.h"

#include "../port_settings.h"
#include "../text.h"  // brings <windows.h>, which <shellapi.h> needs first

#include <shellapi.h>

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace {

int argumentCount;
wchar_t** arguments;
void (*interruptHandler)(int exitStatus);
bool errorTakesEscapes;

constexpr int kInterrupted = 130;  // as a POSIX shell reports Ctrl-C
constexpr int kHungUp = 129;       // the console went away, as a hang-up does

// The ports go back as they were found before anything else: the process ends right after.
BOOL WINAPI OnControl(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
    PutBackFoundSettings();
  }
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    interruptHandler(kInterrupted);
  } else if (event == CTRL_CLOSE_EVENT) {
    interruptHandler(kHungUp);
  } else {
    return FALSE;
  }
  return TRUE;
}

bool IsConsole(HANDLE stream) {
  DWORD mode;
  return GetConsoleMode(stream, &mode) != 0;
}

// Asks the console to interpret escape sequences; older consoles refuse.
bool EnableEscapes(HANDLE stream) {
  DWORD mode;
  return GetConsoleMode(stream, &mode) != 0 &&
         ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
          SetConsoleMode(stream, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0);
}

void WriteUtf8(HANDLE stream, const char16_t* text, size_t length) {
  // Converted in pieces, so that a line of any length goes out whole.
  char utf8[4 * 64 + 3];
  for (size_t done = 0; done < length;) {
    int count = length - done < 64 ? static_cast<int>(length - done) : 64;
    if (count == 64 && text[done + 63] >= 0xD800 && text[done + 63] <= 0xDBFF) count = 63;
    int size = WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(text + done),
                                   count, utf8, sizeof utf8, nullptr, nullptr);
    DWORD written;
    WriteFile(stream, utf8, static_cast<DWORD>(size), &written, nullptr);
    done += count;
  }
}

}  // namespace

void InitConsole(int, char**) {
  arguments = CommandLineToArgvW(GetCommandLineW(), &argumentCount);
  if (arguments == nullptr) argumentCount = 0;
  EnableEscapes(GetStdHandle(STD_OUTPUT_HANDLE));
  errorTakesEscapes = EnableEscapes(GetStdHandle(STD_ERROR_HANDLE));
}

int ConsoleArgumentCount() { return argumentCount; }

bool ConsoleArgument(int index, char16_t* destination, size_t capacity) {
  if (capacity == 0) return false;
  destination[0] = u'\0';
  if (index < 0 || index >= argumentCount) return false;
  const char16_t* argument = reinterpret_cast<const char16_t*>(arguments[index]);
  return TextCopy(destination, capacity, argument) == TextLength(argument);
}

void WriteConsole(bool toError, const char16_t* text, size_t length, bool newline) {
  HANDLE stream = GetStdHandle(toError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  if (IsConsole(stream)) {
    DWORD written;
    WriteConsoleW(stream, text, static_cast<DWORD>(length), &written, nullptr);
    if (newline) WriteConsoleW(stream, L"\r\n", 2, &written, nullptr);
    return;
  }
  WriteUtf8(stream, text, length);
  DWORD written;
  if (newline) WriteFile(stream, "\r\n", 2, &written, nullptr);
}

bool ErrorIsTerminal() { return IsConsole(GetStdHandle(STD_ERROR_HANDLE)); }

bool ErrorTakesEscapes() { return errorTakesEscapes; }

void OnInterrupt(void (*handler)(int exitStatus)) {
  interruptHandler = handler;
  SetConsoleCtrlHandler(OnControl, TRUE);
}

void EndProcessNow(int code) { ExitProcess(static_cast<UINT>(code)); }
