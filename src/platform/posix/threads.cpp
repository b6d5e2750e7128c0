// CreateThread, ExitThread and waiting for a thread's end, on pthreads. The thread object lives
// until both its handle is closed and the thread has ended, whichever comes last.
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <new>

#include "deadline.h"
#include "handle_object.h"

namespace {

struct ThreadObject {
  HandleObject header;
  LPTHREAD_START_ROUTINE start;
  LPVOID parameter;
  pthread_mutex_t mutex;
  pthread_cond_t ended;
  bool done;
  DWORD exitCode;
  std::atomic<int> references;  // the handle and the running thread
};

thread_local ThreadObject* currentThread = nullptr;

void Release(ThreadObject* object) {
  if (object->references.fetch_sub(1) != 1) return;
  pthread_cond_destroy(&object->ended);
  pthread_mutex_destroy(&object->mutex);
  delete object;
}

void MarkEnded(ThreadObject* object, DWORD exitCode) {
  pthread_mutex_lock(&object->mutex);
  object->done = true;
  object->exitCode = exitCode;
  pthread_cond_broadcast(&object->ended);
  pthread_mutex_unlock(&object->mutex);
  Release(object);
}

void* Trampoline(void* argument) {
  ThreadObject* object = static_cast<ThreadObject*>(argument);
  currentThread = object;
  DWORD exitCode = object->start(object->parameter);
  currentThread = nullptr;
  MarkEnded(object, exitCode);
  return nullptr;
}

BOOL CloseThread(HandleObject* self) {
  Release(reinterpret_cast<ThreadObject*>(self));
  return TRUE;
}

DWORD WaitThread(HandleObject* self, DWORD milliseconds) {
  ThreadObject* object = reinterpret_cast<ThreadObject*>(self);
  timespec deadline = DeadlineAfter(milliseconds == INFINITE ? 0 : milliseconds);
  pthread_mutex_lock(&object->mutex);
  while (!object->done) {
    if (milliseconds == INFINITE) {
      pthread_cond_wait(&object->ended, &object->mutex);
    } else if (pthread_cond_timedwait(&object->ended, &object->mutex, &deadline) == ETIMEDOUT) {
      break;
    }
  }
  bool done = object->done;
  pthread_mutex_unlock(&object->mutex);
  return done ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

}  // namespace

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, size_t stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD, LPDWORD threadId) {
  ThreadObject* object = new (std::nothrow) ThreadObject;
  if (object == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  object->header = HandleObject{HandleKind::Thread, CloseThread, WaitThread};
  object->start = start;
  object->parameter = parameter;
  object->done = false;
  object->exitCode = STILL_ACTIVE;
  object->references = 2;
  pthread_condattr_t condition;
  pthread_condattr_init(&condition);
  pthread_condattr_setclock(&condition, CLOCK_MONOTONIC);
  pthread_cond_init(&object->ended, &condition);
  pthread_condattr_destroy(&condition);
  pthread_mutex_init(&object->mutex, nullptr);

  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  if (stackSize != 0) pthread_attr_setstacksize(&attributes, stackSize);
  pthread_t thread;
  int result = pthread_create(&thread, &attributes, Trampoline, object);
  pthread_attr_destroy(&attributes);
  if (result != 0) {
    object->references = 1;
    Release(object);
    SetLastError(Win32ErrorFromErrno(result));
    return nullptr;
  }
  if (threadId != nullptr) *threadId = static_cast<DWORD>(reinterpret_cast<uintptr_t>(object));
  return object;
}

void ExitThread(DWORD exitCode) {
  ThreadObject* object = currentThread;
  currentThread = nullptr;
  if (object != nullptr) MarkEnded(object, exitCode);
  pthread_exit(nullptr);
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
  ThreadObject* object = reinterpret_cast<ThreadObject*>(HandleOf(thread, HandleKind::Thread));
  if (object == nullptr) return FALSE;
  pthread_mutex_lock(&object->mutex);
  *exitCode = object->exitCode;
  pthread_mutex_unlock(&object->mutex);
  return TRUE;
}
