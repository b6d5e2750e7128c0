// The processes that have a device open, found through their /proc/<pid>/fd links.
#include "port_users.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "../port_holder.h"
#include "../text.h"
#include "system_root.h"

namespace {

// The holder behind the last open that was refused for it. Written by the thread that opens
// ports, read by the front end once that thread has ended.
struct Holder {
  bool known;
  char device[PATH_MAX];
  char program[64];
  long pid;
} lastHolder;

constexpr int kMaxAncestors = 64;

bool SameFile(const struct stat& a, const struct stat& b) {
  if (S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode)) return a.st_rdev == b.st_rdev;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether one of the process's descriptors is the device. Sockets, pipes and the like have link
// texts that are no path.
bool HasOpen(long pid, const struct stat& device) {
  char folder[PATH_MAX];
  if (!SystemPath(folder, sizeof folder, "/proc/%ld/fd", pid)) return false;
  DIR* descriptors = opendir(folder);
  if (descriptors == nullptr) return false;  // another user's process, or one that has ended
  bool found = false;
  for (dirent* entry; !found && (entry = readdir(descriptors)) != nullptr;) {
    char link[PATH_MAX + 256], target[2];
    snprintf(link, sizeof link, "%s/%s", folder, entry->d_name);
    struct stat status;
    found = entry->d_name[0] != '.' && readlink(link, target, sizeof target) > 0 &&
            target[0] == '/' && stat(link, &status) == 0 && SameFile(status, device);
  }
  closedir(descriptors);
  return found;
}

bool SameProgram(long pid, long other) {
  char path[PATH_MAX], mine[PATH_MAX], theirs[PATH_MAX];
  ssize_t length = SystemPath(path, sizeof path, "/proc/%ld/exe", pid)
                       ? readlink(path, mine, sizeof mine - 1) : -1;
  ssize_t otherLength = SystemPath(path, sizeof path, "/proc/%ld/exe", other)
                            ? readlink(path, theirs, sizeof theirs - 1) : -1;
  return length > 0 && length == otherLength && memcmp(mine, theirs, length) == 0;
}

// The oldest process of this one's family: the parent when it runs this same program (the
// runs on several ports are children of one pentrel-cli), else this process.
long FamilyHead(long self) {
  long parent = getppid();
  return SameProgram(self, parent) ? parent : self;
}

// Whether the process descends from the head (or is the head); this process is one of them.
bool IsOfFamily(long pid, long head) {
  for (int step = 0; step < kMaxAncestors && pid > 1; step++) {
    if (pid == head) return true;
    unsigned terminal;
    if (!ReadProcessStat(pid, &pid, &terminal)) return false;
  }
  return false;
}

void NoteHolder(long pid, const char* path) {
  lastHolder.known = true;
  lastHolder.pid = pid;
  if (realpath(path, lastHolder.device) == nullptr) {
    snprintf(lastHolder.device, sizeof lastHolder.device, "%s", path);
  }
  if (!ReadSystemLine(lastHolder.program, sizeof lastHolder.program, "/proc/%ld/comm", pid)) {
    snprintf(lastHolder.program, sizeof lastHolder.program, "an unknown program");
  }
}

}  // namespace

bool IsOpenElsewhere(int fd, const char* path) {
  lastHolder.known = false;
  struct stat device;
  char folder[PATH_MAX];
  if (fstat(fd, &device) != 0 || !SystemPath(folder, sizeof folder, "/proc")) return false;
  DIR* processes = opendir(folder);
  if (processes == nullptr) return false;
  long self = getpid(), head = FamilyHead(self);
  for (dirent* entry; !lastHolder.known && (entry = readdir(processes)) != nullptr;) {
    char* end = nullptr;
    long pid = strtol(entry->d_name, &end, 10);
    if (*end != '\0' || pid <= 0 || pid == self) continue;
    if (HasOpen(pid, device) && !IsOfFamily(pid, head)) NoteHolder(pid, path);
  }
  closedir(processes);
  return lastHolder.known;
}

bool LastPortHolder(PortHolder* holder) {
  if (!lastHolder.known) return false;
  Utf8ToUtf16(lastHolder.device, holder->device, kHolderNameCapacity);
  Utf8ToUtf16(lastHolder.program, holder->program, kHolderNameCapacity);
  holder->pid = static_cast<unsigned long>(lastHolder.pid);
  return true;
}
