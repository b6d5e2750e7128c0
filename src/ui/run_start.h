// Starting a programming run on its worker thread, and what happens when the thread cannot start.
#pragma once

#include "platform/win32.h"

// Starts routine on a new thread (stackSize 0 for the default) and keeps its handle as
// WorkerThreadHandle. If the thread cannot be created, the failure is logged with its system
// error code, the Last Status says so, and the setup dialog is asked to open again (posted, so
// that it opens once the current dialog has ended). Returns whether the thread started.
bool StartRun(LPTHREAD_START_ROUTINE routine, SIZE_T stackSize);
