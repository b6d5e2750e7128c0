// Entry point of pentrel.exe: start-up in order, the first setup dialog, and the message loop.
#include "log/message_log.h"
#include "settings/settings.h"
#include "ui/command_line.h"
#include "ui/log_window.h"
#include "ui/preferences.h"
#include "ui/resource.h"
#include "ui/ui_state.h"

#include <shellapi.h>

namespace {

constexpr int kResourceTextCapacity = 100;

// The argument vector is kept for the life of the process.
int ArgumentCount = 0;
wchar_t** Arguments = nullptr;

HFONT CreateStatusFont() {
  HDC screen = GetDC(nullptr);
  int pixelsPerInch = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  LOGFONTW font = {};
  font.lfHeight = -MulDiv(9, pixelsPerInch, 72);
  font.lfWeight = FW_BOLD;
  lstrcpynW(font.lfFaceName, L"Tahoma", LF_FACESIZE);
  return CreateFontIndirectW(&font);
}

// Runs until the log window is destroyed; returns the exit code that WM_QUIT carries.
int RunMessageLoop(HACCEL accelerators) {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (TranslateAcceleratorW(message.hwnd, accelerators, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  wchar_t title[kResourceTextCapacity];
  wchar_t className[kResourceTextCapacity];
  LoadStringW(instance, IDS_APP_TITLE, title, kResourceTextCapacity);
  LoadStringW(instance, IDS_WINDOW_CLASS, className, kResourceTextCapacity);
  RegisterLogWindowClass(instance, className);
  Arguments = CommandLineToArgvW(GetCommandLineW(), &ArgumentCount);

  InitMessageLog();
  Instance = instance;
  HWND window = CreateLogWindow(instance, className, title);
  if (window == nullptr) return 0;
  LogWindow = window;
  StatusFont = CreateStatusFont();
  ShowWindow(window, showCommand);
  UpdateWindow(window);

  // Stored preferences first, so that a file named on the command line wins over them.
  LoadPreferences();
  ApplyCommandLine(ArgumentCount, Arguments);

  // The first setup dialog runs inside this send, before there is a message loop.
  SendMessageW(window, WM_SHOW_SETUP, 0, 1);
  int exitCode = RunMessageLoop(LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDA_PENTREL)));

  AbortRequested = 1;
  DeleteObject(StatusFont);
  return exitCode;
}
