// Windows as registered procedures: SendMessageW calls the procedure synchronously on the
// sending thread, which is what the core relies on (the sender waits until the view has
// handled the message).
#include <pthread.h>

#include "handle_object.h"

namespace {

constexpr int kMaxWindows = 16;
WNDPROC procedures[kMaxWindows];
pthread_mutex_t tableLock = PTHREAD_MUTEX_INITIALIZER;

// A window handle is its slot number plus one, so that no handle is null.
int SlotOf(HWND window) {
  intptr_t slot = reinterpret_cast<intptr_t>(window) - 1;
  return slot >= 0 && slot < kMaxWindows ? static_cast<int>(slot) : -1;
}

}  // namespace

HWND RegisterWindowProcedure(WNDPROC procedure) {
  pthread_mutex_lock(&tableLock);
  int slot = 0;
  while (slot < kMaxWindows && procedures[slot] != nullptr) slot++;
  if (slot < kMaxWindows) procedures[slot] = procedure;
  pthread_mutex_unlock(&tableLock);
  if (slot == kMaxWindows) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return reinterpret_cast<HWND>(static_cast<intptr_t>(slot) + 1);
}

void UnregisterWindowProcedure(HWND window) {
  int slot = SlotOf(window);
  if (slot < 0) return;
  pthread_mutex_lock(&tableLock);
  procedures[slot] = nullptr;
  pthread_mutex_unlock(&tableLock);
}

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  int slot = SlotOf(window);
  WNDPROC procedure = nullptr;
  if (slot >= 0) {
    pthread_mutex_lock(&tableLock);
    procedure = procedures[slot];
    pthread_mutex_unlock(&tableLock);
  }
  if (procedure == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return procedure(window, message, wParam, lParam);
}
