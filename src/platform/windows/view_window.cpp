// View windows on Windows: message-only windows of one class, each handing the view's own
// messages (WM_USER and above) to the procedure stored with it; the window's own traffic gets
// the default handling, as on POSIX, where a view window has none.
#include "../view_window.h"

namespace {

const wchar_t kViewClass[] = L"PentrelView";

LRESULT CALLBACK Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC procedure = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (procedure == nullptr || message < WM_USER) return DefWindowProcW(window, message, wParam, lParam);
  return procedure(window, message, wParam, lParam);
}

bool RegisterViewClass() {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = Dispatch;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kViewClass;
  return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

HWND CreateViewWindow(WNDPROC procedure) {
  if (!RegisterViewClass()) return nullptr;
  HWND window = CreateWindowExW(0, kViewClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  if (window != nullptr) {
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(procedure));
  }
  return window;
}

void DestroyViewWindow(HWND window) { DestroyWindow(window); }

void WaitForThreadServingViews(HANDLE thread) {
  for (;;) {
    DWORD woken = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE);
    if (woken != WAIT_OBJECT_0 + 1) return;  // the thread ended, or the wait failed
    MSG message;
    // Peeking delivers the messages sent from other threads.
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
  }
}
