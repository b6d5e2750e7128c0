// The console on Windows: wide arguments from the command line; text to a console through
// WriteConsoleW (so any character shows whatever the console's code page), UTF-8 to a file or
// pipe; escape sequences where the console can take them; Ctrl-C and the console closing.
#include "../console.h"

#include "../port_settings.h"
#include "../text.h"  // brings <windows.h>, which <shellapi.h> needs first

#include <shellapi.h>

#include <string>
#include <vector>

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

// Writes count code units to a console, going on where a call wrote only part of them.
void WriteWholeToConsole(HANDLE stream, const wchar_t* text, DWORD count) {
  for (DWORD written = 0; count > 0; text += written, count -= written) {
    if (!WriteConsoleW(stream, text, count, &written, nullptr) || written == 0) return;
  }
}

// Writes the text as UTF-8 in one WriteFile, going on where a call wrote only part of it.
void WriteWholeAsUtf8(HANDLE stream, const wchar_t* text, int count) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text, count, nullptr, 0, nullptr, nullptr);
  std::vector<char> utf8(size > 0 ? size : 1);
  size = WideCharToMultiByte(CP_UTF8, 0, text, count, utf8.data(), size, nullptr, nullptr);
  const char* bytes = utf8.data();
  for (DWORD written = 0; size > 0; bytes += written, size -= static_cast<int>(written)) {
    if (!WriteFile(stream, bytes, static_cast<DWORD>(size), &written, nullptr) || written == 0) {
      return;
    }
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
  // The line and its end in one write, so that the lines of programs sharing a pipe never mix.
  std::wstring line(reinterpret_cast<const wchar_t*>(text), length);
  if (newline) line += L"\r\n";
  HANDLE stream = GetStdHandle(toError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  if (IsConsole(stream)) {
    WriteWholeToConsole(stream, line.data(), static_cast<DWORD>(line.size()));
  } else {
    WriteWholeAsUtf8(stream, line.data(), static_cast<int>(line.size()));
  }
}

bool ErrorIsTerminal() { return IsConsole(GetStdHandle(STD_ERROR_HANDLE)); }

bool ErrorTakesEscapes() { return errorTakesEscapes; }

void OnInterrupt(void (*handler)(int exitStatus)) {
  interruptHandler = handler;
  SetConsoleCtrlHandler(OnControl, TRUE);
}

void EndProcessNow(int code) { ExitProcess(static_cast<UINT>(code)); }
