// CreateMutexW and ReleaseMutex on pthreads. A Win32 mutex is owned by one thread, may be taken
// again by its owner, and refuses a release by anyone else; the owner and depth are kept here so
// that a stranger's release is refused before it reaches pthreads.
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <new>

#include "deadline.h"
#include "handle_object.h"

namespace {

struct MutexObject {
  HandleObject header;
  pthread_mutex_t mutex;
  std::atomic<uintptr_t> owner;  // the owning thread's token, 0 when free
  int depth;                     // written only by the owner
};

// A token that is unique to the calling thread while it lives.
uintptr_t ThreadToken() {
  static thread_local char token;
  return reinterpret_cast<uintptr_t>(&token);
}

BOOL CloseMutex(HandleObject* self) {
  MutexObject* object = reinterpret_cast<MutexObject*>(self);
  if (object->owner.load() != 0) pthread_mutex_unlock(&object->mutex);
  pthread_mutex_destroy(&object->mutex);
  delete object;
  return TRUE;
}

int Lock(MutexObject* object, DWORD milliseconds) {
  if (milliseconds == INFINITE) return pthread_mutex_lock(&object->mutex);
  // pthread_mutex_timedlock measures against CLOCK_REALTIME.
  timespec deadline = DeadlineAfter(milliseconds, CLOCK_REALTIME);
  return pthread_mutex_timedlock(&object->mutex, &deadline);
}

DWORD WaitMutex(HandleObject* self, DWORD milliseconds) {
  MutexObject* object = reinterpret_cast<MutexObject*>(self);
  if (object->owner.load(std::memory_order_relaxed) == ThreadToken()) {
    object->depth++;
    return WAIT_OBJECT_0;
  }
  int result = Lock(object, milliseconds);
  if (result == ETIMEDOUT) return WAIT_TIMEOUT;
  if (result != 0) {
    SetLastError(Win32ErrorFromErrno(result));
    return WAIT_FAILED;
  }
  object->owner.store(ThreadToken(), std::memory_order_relaxed);
  object->depth = 1;
  return WAIT_OBJECT_0;
}

}  // namespace

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCWSTR) {
  MutexObject* object = new (std::nothrow) MutexObject;
  if (object == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  object->header = HandleObject{HandleKind::Mutex, CloseMutex, WaitMutex};
  pthread_mutex_init(&object->mutex, nullptr);
  object->owner = 0;
  object->depth = 0;
  if (initialOwner) WaitMutex(&object->header, INFINITE);
  return object;
}

BOOL ReleaseMutex(HANDLE mutex) {
  MutexObject* object = reinterpret_cast<MutexObject*>(HandleOf(mutex, HandleKind::Mutex));
  if (object == nullptr) return FALSE;
  if (object->owner.load(std::memory_order_relaxed) != ThreadToken()) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  if (--object->depth == 0) {
    object->owner.store(0, std::memory_order_relaxed);
    pthread_mutex_unlock(&object->mutex);
  }
  return TRUE;
}
