// The console on Windows: wide arguments from the command line, UTF-8 streams, Ctrl-C.
#include "../console.h"

#include "../text.h"  // brings <windows.h>, which <shellapi.h> needs first

#include <shellapi.h>

namespace {

int argumentCount;
wchar_t** arguments;
void (*interruptHandler)();

BOOL WINAPI OnControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  interruptHandler();
  return TRUE;
}

}  // namespace

void InitConsole(int, char**) {
  arguments = CommandLineToArgvW(GetCommandLineW(), &argumentCount);
  if (arguments == nullptr) argumentCount = 0;
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
  // Converted in pieces, so that a line of any length goes out whole.
  char utf8[4 * 64 + 3];
  HANDLE stream = GetStdHandle(toError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  for (size_t done = 0; done < length;) {
    int count = length - done < 64 ? static_cast<int>(length - done) : 64;
    if (count == 64 && text[done + 63] >= 0xD800 && text[done + 63] <= 0xDBFF) count = 63;
    int size = WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(text + done),
                                   count, utf8, sizeof utf8, nullptr, nullptr);
    DWORD written;
    WriteFile(stream, utf8, static_cast<DWORD>(size), &written, nullptr);
    done += count;
  }
  DWORD written;
  if (newline) WriteFile(stream, "\r\n", 2, &written, nullptr);
}

bool ErrorIsTerminal() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void OnInterrupt(void (*handler)()) {
  interruptHandler = handler;
  SetConsoleCtrlHandler(OnControl, TRUE);
}

void EndProcessNow(int code) { ExitProcess(static_cast<UINT>(code)); }
