// The log window: drawing the message log, scrolling new lines in, and opening the dialogs.
#include "ui/log_window.h"

#include "log/message_log.h"
#include "settings/settings.h"
#include "ui/about_dialog.h"
#include "ui/resource.h"
#include "ui/setup_dialog.h"
#include "ui/ui_state.h"

int32_t LineHeight = 0;
int32_t BottomMargin = 0;

namespace {

constexpr int kWindowWidth = 576;
constexpr int kWindowHeight = 265;

void DrawRow(HDC dc, int row, const char16_t* line) {
  TextOutW(dc, 0, row * LineHeight, reinterpret_cast<const WCHAR*>(line), kLogLineWidth);
}

void MeasureFont(HWND window) {
  HDC dc = GetDC(window);
  SelectObject(dc, GetStockObject(SYSTEM_FIXED_FONT));
  TEXTMETRICW metrics;
  GetTextMetricsW(dc, &metrics);
  LineHeight = metrics.tmHeight + metrics.tmExternalLeading;
  ReleaseDC(window, dc);
  BottomMargin = GetSystemMetrics(SM_CYVSCROLL);
}

// Redraws the 14 rows, oldest at the top. The progress row is left to the background until the
// next WM_PROGRESS_LINE: the worker writes progressLine without the lock, so the view reads it
// only while the worker waits in its send.
void Paint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  SelectObject(dc, GetStockObject(SYSTEM_FIXED_FONT));
  WaitForSingleObject(MessageLog.lock, INFINITE);
  for (int row = 0; row < kLogLines; row++) {
    DrawRow(dc, row, MessageLog.ring[(MessageLog.displayIndex + row) % kLogLines]);
  }
  ReleaseMutex(MessageLog.lock);
  EndPaint(window, &paint);
}

// Each pending line costs one scroll of one row and one drawing of the bottom row; the strip a
// scroll uncovers is repainted from the ring by the next WM_PAINT.
void ScrollInPendingLines(HWND window) {
  HDC dc = GetDC(window);
  SelectObject(dc, GetStockObject(SYSTEM_FIXED_FONT));
  RECT area;
  GetClientRect(window, &area);
  area.bottom -= BottomMargin;
  WaitForSingleObject(MessageLog.lock, INFINITE);
  while (MessageLog.displayIndex != MessageLog.writeIndex) {
    ScrollWindow(window, 0, -LineHeight, &area, nullptr);
    DrawRow(dc, kLogLines - 1, MessageLog.ring[MessageLog.displayIndex]);
    MessageLog.displayIndex = (MessageLog.displayIndex + 1) % kLogLines;
  }
  ReleaseMutex(MessageLog.lock);
  ReleaseDC(window, dc);
}

// The progress row sits one pixel below the 14 log rows.
void ShowProgressRow(HWND window) {
  HDC dc = GetDC(window);
  SelectObject(dc, GetStockObject(SYSTEM_FIXED_FONT));
  TextOutW(dc, 0, kLogLines * LineHeight + 1,
           reinterpret_cast<const WCHAR*>(MessageLog.progressLine), kLogLineWidth);
  ReleaseDC(window, dc);
}

}  // namespace

LRESULT CALLBACK LogWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      MeasureFont(window);
      return 0;
    case WM_PAINT:
      Paint(window);
      return 0;
    case WM_LOG_LINES:
      ScrollInPendingLines(window);
      return 0;
    case WM_PROGRESS_LINE:
      ShowProgressRow(window);
      return 0;
    case WM_SHOW_SETUP:
      DialogBoxParamW(Instance, MAKEINTRESOURCEW(IDD_SETUP), window, SetupDialogProc, 0);
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) != IDM_ABOUT) break;
      DialogBoxParamW(Instance, MAKEINTRESOURCEW(IDD_ABOUTBOX), window, AboutDialogProc, 0);
      return 0;
    case WM_DESTROY:
      // A run still searching or writing sees the flag and ends its thread.
      AbortRequested = 1;
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterLogWindowClass(HINSTANCE instance, const wchar_t* className) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = LogWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_PENTREL));
  windowClass.hIconSm = static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(IDI_PENTREL), IMAGE_ICON,
                 GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = className;
  RegisterClassExW(&windowClass);
}

HWND CreateLogWindow(HINSTANCE instance, const wchar_t* className, const wchar_t* title) {
  return CreateWindowExW(0, className, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                         kWindowWidth, kWindowHeight, nullptr, nullptr, instance, nullptr);
}
