// Child processes on Windows: CreateProcessW with a pipe for stdout. The children share the
// console, so Ctrl-C reaches each of them from the console itself; the parent only notes it. They
// run in a job that ends them when the parent's handle to it closes, which the parent's end does.
#include "../process.h"

#include <atomic>

#include "../text.h"

namespace {

struct Child {
  std::atomic<bool> inUse;  // given back last, once the child's handles are closed
  HANDLE process;
  HANDLE output;
};
Child children[kMaxChildren];
std::atomic<int> interruptStatus{0};

constexpr int kCommandLineCapacity = 32768;

BOOL WINAPI NoteInterrupt(DWORD event) {
  interruptStatus.store(event == CTRL_CLOSE_EVENT ? 129 : 130);
  return TRUE;
}

int FreeSlot() {
  for (int i = 0; i < kMaxChildren; i++) {
    if (!children[i].inUse.load()) return i;
  }
  return -1;
}

void Put(char16_t* line, int& used, char16_t c) {
  if (used < kCommandLineCapacity - 1) line[used++] = c;
}

// Appends one argument quoted so that CommandLineToArgvW gives it back unchanged: backslashes
// are doubled only where a quote follows them.
void AppendQuoted(char16_t* line, int& used, const char16_t* argument) {
  if (used > 0) Put(line, used, u' ');
  Put(line, used, u'"');
  int backslashes = 0;
  for (const char16_t* c = argument; *c != u'\0'; c++) {
    if (*c == u'\\') {
      backslashes++;
      continue;
    }
    int copies = *c == u'"' ? 2 * backslashes + 1 : backslashes;
    for (int i = 0; i < copies; i++) Put(line, used, u'\\');
    backslashes = 0;
    Put(line, used, *c);
  }
  for (int i = 0; i < 2 * backslashes; i++) Put(line, used, u'\\');
  Put(line, used, u'"');
}

// The job that every child joins; null when it could not be made.
HANDLE ChildrenJob() {
  static HANDLE job = nullptr;
  if (job != nullptr) return job;
  job = CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job != nullptr &&
      !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    CloseHandle(job);
    job = nullptr;
  }
  return job;
}

// The child joins the job before it runs its first instruction, so that it never runs unbound.
bool BindToParent(const PROCESS_INFORMATION& started) {
  HANDLE job = ChildrenJob();
  if (job == nullptr || !AssignProcessToJobObject(job, started.hProcess)) {
    DWORD error = GetLastError();
    TerminateProcess(started.hProcess, 1);
    SetLastError(error);
    return false;
  }
  ResumeThread(started.hThread);
  return true;
}

// Starts the child; the caller holds the start lock, so that no other child inherits this one's
// pipe (which would keep it open past this child's end).
int StartLocked(const char16_t* path, const char16_t* const* arguments, int count) {
  int slot = FreeSlot();
  if (slot < 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return -1;
  }
  static char16_t line[kCommandLineCapacity];
  int used = 0;
  for (int i = 0; i < count; i++) AppendQuoted(line, used, arguments[i]);
  line[used] = u'\0';
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  HANDLE readEnd, writeEnd;
  if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return -1;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writeEnd;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION started = {};
  BOOL ok = CreateProcessW(Win32Text(path), Win32Text(line), nullptr, nullptr, TRUE,
                           CREATE_SUSPENDED, nullptr, nullptr, &startup, &started);
  CloseHandle(writeEnd);
  if (ok) {
    ok = BindToParent(started);
    CloseHandle(started.hThread);
    if (!ok) CloseHandle(started.hProcess);
  }
  if (!ok) {
    DWORD error = GetLastError();
    CloseHandle(readEnd);
    SetLastError(error);
    return -1;
  }
  children[slot].process = started.hProcess;
  children[slot].output = readEnd;
  children[slot].inUse.store(true);
  return slot;
}

}  // namespace

int StartChild(const char16_t* path, const char16_t* const* arguments, int count) {
  // One start at a time: the slots and the command line buffer are shared.
  static SRWLOCK starting = SRWLOCK_INIT;
  AcquireSRWLockExclusive(&starting);
  int slot = StartLocked(path, arguments, count);
  ReleaseSRWLockExclusive(&starting);
  return slot;
}

int ReadChildOutput(int child, char* buffer, int capacity) {
  DWORD count = 0;
  if (!ReadFile(children[child].output, buffer, static_cast<DWORD>(capacity), &count, nullptr)) {
    return 0;
  }
  return static_cast<int>(count);
}

int WaitForChild(int child) {
  Child& slot = children[child];
  DWORD code = 0;
  bool known = WaitForSingleObject(slot.process, INFINITE) == WAIT_OBJECT_0 &&
               GetExitCodeProcess(slot.process, &code);
  CloseHandle(slot.process);
  CloseHandle(slot.output);
  slot.inUse.store(false);
  return known ? static_cast<int>(code) : -1;
}

bool EndWithParent(unsigned) { return true; }

void ForwardInterruptsToChildren() { SetConsoleCtrlHandler(NoteInterrupt, TRUE); }

int InterruptStatus() { return interruptStatus.load(); }

void PauseMilliseconds(unsigned milliseconds) { Sleep(milliseconds); }

bool OwnExecutablePath(char16_t* path, size_t capacity) {
  DWORD length = GetModuleFileNameW(nullptr, Win32Text(path), static_cast<DWORD>(capacity));
  return length > 0 && length < capacity;
}

unsigned CurrentProcessId() { return GetCurrentProcessId(); }
