// Serial ports as files on POSIX: CreateFileW with exclusive use that holds for root too and
// queues emptied as a Windows open leaves them, ReadFile and WriteFile that honour COMMTIMEOUTS
// as Win32 does (a write completes once its bytes have left), and closing.
#include "serial_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "deadline.h"
#include "dos_devices.h"
#include "open_ports.h"
#include "output_drain.h"
#include "port_claim.h"

namespace {

constexpr DWORD kMaxDword = 0xFFFFFFFFu;

BOOL Fail(int error) {
  SetLastError(Win32ErrorFromErrno(error));
  return FALSE;
}

BOOL CloseSerialFile(HandleObject* self) {
  SerialFile* file = reinterpret_cast<SerialFile*>(self);
  ForgetOpenPort(file->fd);
  UnclaimDevice(file->fd);
  // Closing drops the flock.
  int result = close(file->fd);
  delete file;
  return result == 0 || errno == EINTR ? TRUE : Fail(errno);
}

int OpenFlags(DWORD access) {
  bool reads = (access & GENERIC_READ) != 0, writes = (access & GENERIC_WRITE) != 0;
  int mode = reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
  return mode | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
}

// Waits until fd is ready for events or the milliseconds (kMaxDword: no limit) have passed.
// Returns false when the line hung up or failed (errno set), true otherwise.
bool WaitFor(int fd, short events, DWORD milliseconds) {
  pollfd entry{fd, events, 0};
  int timeout = milliseconds == kMaxDword ? -1 : static_cast<int>(milliseconds);
  int result;
  do {
    result = poll(&entry, 1, timeout);
  } while (result < 0 && errno == EINTR);
  if (result < 0) return false;
  if ((entry.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
    errno = EIO;  // hung up (a hung-up tty also reports itself readable and writable)
    return false;
  }
  return true;
}

// The total time-out of a transfer of n bytes: multiplier × n + constant, kMaxDword for none.
DWORD TotalTimeout(DWORD multiplier, DWORD constant, DWORD n) {
  if (multiplier == 0 && constant == 0) return kMaxDword;
  uint64_t total = static_cast<uint64_t>(multiplier) * n + constant;
  return total >= kMaxDword ? kMaxDword - 1 : static_cast<DWORD>(total);
}

// Milliseconds left of a total time-out that began at deadline's start.
DWORD Remaining(DWORD total, const timespec& deadline) {
  return total == kMaxDword ? kMaxDword : MillisecondsUntil(deadline);
}

// Reads what is there now without waiting. A raw tty with VMIN = VTIME = 0 answers 0 when it
// has nothing, so only an error ends the read here.
bool ReadAvailable(int fd, uint8_t* buffer, DWORD wanted, DWORD& got) {
  while (got < wanted) {
    ssize_t count = read(fd, buffer + got, wanted - got);
    if (count > 0) {
      got += static_cast<DWORD>(count);
    } else if (count == 0 || errno == EAGAIN) {
      return true;
    } else if (errno != EINTR) {
      return false;
    }
  }
  return true;
}

// How long a read that has got bytes so far may still wait, by the Win32 rules:
// MAXDWORD interval with zero totals returns at once; MAXDWORD interval and multiplier return as
// soon as any byte came; a non-zero interval bounds the gap after a byte; the total bounds all.
DWORD ReadWait(const COMMTIMEOUTS& t, DWORD total, const timespec& deadline, DWORD got,
               const timespec& lastByte) {
  if (t.ReadIntervalTimeout == kMaxDword) {
    if (t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0) return 0;
    if (t.ReadTotalTimeoutMultiplier == kMaxDword && got > 0) return 0;
  }
  DWORD wait = Remaining(total, deadline);
  if (t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != kMaxDword && got > 0) {
    DWORD gap = MillisecondsUntil(lastByte);
    if (gap < wait) wait = gap;
  }
  return wait;
}

}  // namespace

SerialFile* SerialFileOf(HANDLE handle) {
  return reinterpret_cast<SerialFile*>(HandleOf(handle, HandleKind::File));
}

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD, HANDLE) {
  char path[4096];
  DWORD error = disposition == OPEN_EXISTING ? ResolveDevicePath(name, path, sizeof path)
                                             : ERROR_INVALID_PARAMETER;
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  int fd = open(path, OpenFlags(access));
  if (fd < 0) {
    Fail(errno);
    return INVALID_HANDLE_VALUE;
  }
  struct stat status;
  int cause = fstat(fd, &status) != 0   ? errno
              : S_ISDIR(status.st_mode) ? EISDIR
                                        : ClaimDevice(fd, path);
  SerialFile* file = nullptr;
  if (cause == 0) {
    file = new (std::nothrow) SerialFile{};
    if (file == nullptr) {
      UnclaimDevice(fd);
      cause = ENOMEM;
    }
  }
  if (cause != 0) {
    close(fd);
    Fail(cause);
    return INVALID_HANDLE_VALUE;
  }
  file->header = HandleObject{HandleKind::File, CloseSerialFile, nullptr};
  file->fd = fd;
  file->device = status.st_rdev != 0 ? status.st_rdev : status.st_dev;
  file->inode = status.st_ino;
  LoadKeptSettings(file);
  if (file->isTty) {
    // Bytes that reached the line while nobody had the port open are no answer to anything.
    tcflush(fd, TCIOFLUSH);
    RememberOpenPort(fd, file->found);
  }
  return file;
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
  SerialFile* file = SerialFileOf(handle);
  if (read != nullptr) *read = 0;
  if (file == nullptr) return FALSE;
  const COMMTIMEOUTS& t = file->timeouts;
  DWORD total = TotalTimeout(t.ReadTotalTimeoutMultiplier == kMaxDword ? 0
                                 : t.ReadTotalTimeoutMultiplier,
                             t.ReadTotalTimeoutConstant, toRead);
  timespec deadline = DeadlineAfter(total == kMaxDword ? 0 : total);
  timespec lastByte = deadline;
  DWORD got = 0;
  uint8_t* bytes = static_cast<uint8_t*>(buffer);
  while (true) {
    DWORD before = got;
    bool fine = ReadAvailable(file->fd, bytes, toRead, got);
    if (read != nullptr) *read = got;
    if (!fine) return Fail(errno);
    if (got == toRead) return TRUE;
    if (got > before) lastByte = DeadlineAfter(t.ReadIntervalTimeout);
    DWORD wait = ReadWait(t, total, deadline, got, lastByte);
    if (wait == 0) return TRUE;
    if (!WaitFor(file->fd, POLLIN, wait)) return Fail(errno);
  }
}

BOOL WriteFile(HANDLE handle, const void* buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED) {
  SerialFile* file = SerialFileOf(handle);
  if (written != nullptr) *written = 0;
  if (file == nullptr) return FALSE;
  DWORD total = TotalTimeout(file->timeouts.WriteTotalTimeoutMultiplier,
                             file->timeouts.WriteTotalTimeoutConstant, toWrite);
  timespec began = DeadlineAfter(0);
  timespec deadline = DeadlineAfter(total == kMaxDword ? 0 : total);
  const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
  DWORD done = 0;
  while (done < toWrite) {
    ssize_t count = write(file->fd, bytes + done, toWrite - done);
    if (count > 0) {
      done += static_cast<DWORD>(count);
      if (written != nullptr) *written = done;
      continue;
    }
    if (count < 0 && errno != EAGAIN && errno != EINTR) return Fail(errno);
    DWORD wait = Remaining(total, deadline);
    // An expired write time-out is a short write, not an error, as on Win32.
    if (wait == 0) break;
    if (!WaitFor(file->fd, POLLOUT, wait)) return Fail(errno);
  }
  DWORD stillQueued = DrainOutput(file->fd, done, began, total == kMaxDword ? nullptr : &deadline);
  // Bytes still queued when the time-out came were dropped: they count as not written.
  if (written != nullptr) *written = stillQueued < done ? done - stillQueued : 0;
  return TRUE;
}
