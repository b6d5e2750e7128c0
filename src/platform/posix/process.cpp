// Child processes on POSIX: posix_spawn with a pipe for stdout; signals are passed on with kill,
// and a child has the kernel end it when its parent ends.
#include "../process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <mutex>
#include <cerrno>

#include "../text.h"
#include "handle_object.h"

extern char** environ;

namespace {

struct Child {
  std::atomic<bool> inUse;  // given back last, once nothing of the child is left open
  std::atomic<pid_t> pid;   // read by the signal handler; 0 once the child has ended
  int output;
};
Child children[kMaxChildren];
std::atomic<int> pendingSignal{0};

void PassSignalOn(int signal) {
  pendingSignal.store(signal);
  for (Child& child : children) {
    pid_t pid = child.pid.load();
    if (pid > 0) kill(pid, signal);
  }
}

int FreeSlot() {
  for (int i = 0; i < kMaxChildren; i++) {
    if (!children[i].inUse.load()) return i;
  }
  return -1;
}

constexpr size_t kArgumentBytes = 260 * 3 + 1;

int Failed(int error) {
  SetLastError(Win32ErrorFromErrno(error));
  return -1;
}

}  // namespace

int StartChild(const char16_t* path, const char16_t* const* arguments, int count) {
  // One start at a time: the slots and the argument buffers are shared.
  static std::mutex starting;
  std::lock_guard<std::mutex> hold(starting);
  // A child's ending must be known: with SIGCHLD ignored (which a program inherits from whoever
  // started it), the kernel reaps children unasked and their statuses are lost.
  signal(SIGCHLD, SIG_DFL);
  int slot = FreeSlot();
  if (slot < 0 || count >= 64) return Failed(ENOMEM);
  static char words[64][kArgumentBytes];
  char program[kArgumentBytes];
  char* argv[65];
  Utf16ToUtf8(path, program, sizeof program);
  for (int i = 0; i < count; i++) {
    Utf16ToUtf8(arguments[i], words[i], kArgumentBytes);
    argv[i] = words[i];
  }
  argv[count] = nullptr;
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) return Failed(errno);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  pid_t pid = 0;
  int failed = posix_spawn(&pid, program, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  if (failed != 0) {
    close(pipeEnds[0]);
    return Failed(failed);
  }
  children[slot].inUse.store(true);
  children[slot].output = pipeEnds[0];
  children[slot].pid.store(pid);
  // A signal that came while the child was starting has missed it.
  if (pendingSignal.load() != 0) kill(pid, pendingSignal.load());
  return slot;
}

int ReadChildOutput(int child, char* buffer, int capacity) {
  while (true) {
    ssize_t count = read(children[child].output, buffer, static_cast<size_t>(capacity));
    if (count >= 0) return static_cast<int>(count);
    if (errno != EINTR) return 0;
  }
}

int WaitForChild(int child) {
  Child& slot = children[child];
  pid_t pid = slot.pid.load();
  // Waited for without reaping first, so that the signal handler never sees a reused pid.
  siginfo_t ended = {};
  int waited;
  while ((waited = waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOWAIT)) < 0 &&
         errno == EINTR) {
  }
  slot.pid.store(0);
  int status = 0;
  pid_t reaped;
  while ((reaped = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
  }
  close(slot.output);
  slot.inUse.store(false);
  if (waited < 0 || reaped != pid) return -1;
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool EndWithParent(unsigned parentId) {
  if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0) return false;
  // A parent that ended before the request was made has left this process to another one.
  return getppid() == static_cast<pid_t>(parentId);
}

void ForwardInterruptsToChildren() {
  struct sigaction action = {};
  action.sa_handler = PassSignalOn;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

int InterruptStatus() {
  int signal = pendingSignal.load();
  return signal == 0 ? 0 : 128 + signal;
}

void PauseMilliseconds(unsigned milliseconds) {
  timespec pause = {static_cast<time_t>(milliseconds / 1000),
                    static_cast<long>(milliseconds % 1000) * 1000000};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

bool OwnExecutablePath(char16_t* path, size_t capacity) {
  char own[4096];
  ssize_t length = readlink("/proc/self/exe", own, sizeof own - 1);
  if (length <= 0) return false;
  own[length] = '\0';
  return Utf8ToUtf16(own, path, capacity);
}

unsigned CurrentProcessId() { return static_cast<unsigned>(getpid()); }
