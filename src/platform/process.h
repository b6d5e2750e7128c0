// Child processes for the console's runs on several ports at once: each child is started with its
// stdout on a pipe that the parent reads, and Ctrl-C or a termination request reaches every child,
// so that no child outlives the parent holding a port.
#pragma once

#include <cstddef>

constexpr int kMaxChildren = 64;

// Starts the program at path with the arguments (its own name first) and its stdout on a pipe;
// returns the child's number, or -1 with the system's error code in GetLastError(). A child is
// ended when this process ends, however it ends (on POSIX the child takes its part with
// EndWithParent).
int StartChild(const char16_t* path, const char16_t* const* arguments, int count);

// Reads what the child wrote to its stdout, blocking; 0 once the child closed it.
int ReadChildOutput(int child, char* buffer, int capacity);

// Waits for the child to end, gives its resources back and returns its exit status (128 + the
// signal's number when a signal ended it), or -1 when its ending cannot be known. The child's
// number may be handed out again only once everything of it has been given back.
int WaitForChild(int child);

// In a child: ties this process's life to its parent's, whose id the parent passed on. False
// when the parent has already gone; a parent that goes later ends this process with SIGTERM, as
// a termination request would (POSIX; on Windows the parent's job object does it).
bool EndWithParent(unsigned parentId);

// From now on Ctrl-C (and on POSIX SIGTERM and SIGHUP) is passed on to every running child
// instead of ending this process.
void ForwardInterruptsToChildren();

// The exit status the interrupt that came calls for (130 for Ctrl-C, 143 for SIGTERM, 129 for
// SIGHUP), or 0 while none came.
int InterruptStatus();

// Waits, doing nothing, for the given time.
void PauseMilliseconds(unsigned milliseconds);

// The path of this program's own executable.
bool OwnExecutablePath(char16_t* path, size_t capacity);

unsigned CurrentProcessId();
