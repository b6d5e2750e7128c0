// GetCommState, SetCommState, GetCommTimeouts and SetCommTimeouts on POSIX. The DCB maps to
// termios (raw: a Win32 port is binary) and to the DTR and RTS lines; only the DCB a handle found
// on opening goes back as the very termios found, normal mode and all. The DCB given is kept
// with the device, as a Windows driver keeps it, for what termios cannot hold (reserved bits,
// XonLim, DSR flow, the control modes, or a byte size that a pseudo-terminal ignores): so
// GetCommState gives back what SetCommState was given, across handles, for as long as nobody
// else has changed the tty. A device that we have not set up is described from its termios.
#include <pthread.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <cstring>

#include "open_ports.h"
#include "output_drain.h"
#include "serial_file.h"

namespace {

struct Speed {
  DWORD baud;
  speed_t code;
};
constexpr Speed kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {3000000, B3000000}, {4000000, B4000000}};

#define MARKPARITY 3
#define SPACEPARITY 4

// What a device keeps between handles: the last DCB and time-outs it was given, and the termios
// that DCB became. When the tty's termios no longer matches, someone else has set the device up
// since (or it is a new pseudo-terminal with a reused number), and the record no longer applies.
struct KeptSettings {
  bool used;
  dev_t device;
  ino_t inode;
  DCB state;
  bool stateKept;
  COMMTIMEOUTS timeouts;
  termios applied;
};
constexpr int kKeptDevices = 32;
KeptSettings kept[kKeptDevices];
int nextVictim = 0;
pthread_mutex_t keptLock = PTHREAD_MUTEX_INITIALIZER;

BOOL Fail(int error) {
  SetLastError(Win32ErrorFromErrno(error));
  return FALSE;
}

bool SpeedCode(DWORD baud, speed_t& code) {
  for (const Speed& speed : kSpeeds) {
    if (speed.baud == baud) {
      code = speed.code;
      return true;
    }
  }
  return false;
}

bool SameLineSettings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
         cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

// What a device that we have not set up reports beside its termios: the lines as the kernel
// leaves them on open (DTR and RTS up) and the usual Windows flow-control limits.
DCB DefaultState() {
  DCB state{};
  state.DCBlength = sizeof(DCB);
  state.BaudRate = 9600;
  state.fBinary = 1;
  state.fDtrControl = DTR_CONTROL_ENABLE;
  state.fRtsControl = RTS_CONTROL_ENABLE;
  state.XonLim = 2048;
  state.XoffLim = 512;
  return state;
}

KeptSettings* FindKept(const SerialFile* file) {
  for (KeptSettings& entry : kept) {
    if (entry.used && entry.device == file->device && entry.inode == file->inode) return &entry;
  }
  return nullptr;
}

void Keep(const SerialFile* file, const termios* applied) {
  pthread_mutex_lock(&keptLock);
  KeptSettings* entry = FindKept(file);
  if (entry == nullptr) {
    entry = &kept[nextVictim];
    nextVictim = (nextVictim + 1) % kKeptDevices;
    *entry = KeptSettings{true, file->device, file->inode, {}, false, {}, {}};
  }
  entry->state = file->state;
  entry->stateKept = file->stateKept;
  entry->timeouts = file->timeouts;
  if (applied != nullptr) entry->applied = *applied;
  pthread_mutex_unlock(&keptLock);
}

// The DCB fields that termios holds, over the defaults. A speed with no baud rate (B0, the
// hang-up speed) leaves the default rate.
void ReadTermios(const termios& t, DCB& dcb) {
  DWORD baud = BaudOfSpeed(cfgetospeed(&t));
  if (baud != 0) dcb.BaudRate = baud;
  tcflag_t size = t.c_cflag & CSIZE;
  dcb.ByteSize = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
  if ((t.c_cflag & PARENB) == 0) {
    dcb.Parity = NOPARITY;
  } else if ((t.c_cflag & CMSPAR) != 0) {
    dcb.Parity = (t.c_cflag & PARODD) != 0 ? MARKPARITY : SPACEPARITY;
  } else {
    dcb.Parity = (t.c_cflag & PARODD) != 0 ? ODDPARITY : EVENPARITY;
  }
  dcb.StopBits = (t.c_cflag & CSTOPB) != 0 ? TWOSTOPBITS : ONESTOPBIT;
  dcb.fParity = (t.c_iflag & INPCK) != 0;
  dcb.fOutxCtsFlow = (t.c_cflag & CRTSCTS) != 0;
  dcb.fOutX = (t.c_iflag & IXON) != 0;
  dcb.fInX = (t.c_iflag & IXOFF) != 0;
  dcb.XonChar = static_cast<char>(t.c_cc[VSTART]);
  dcb.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
}

bool ValidState(const DCB& dcb, speed_t& code) {
  return SpeedCode(dcb.BaudRate, code) && dcb.ByteSize >= 5 && dcb.ByteSize <= 8 &&
         dcb.Parity <= SPACEPARITY && dcb.StopBits <= TWOSTOPBITS;
}

// Raw mode with the DCB's framing, flow control and speed; reads never block in the driver
// (VMIN = VTIME = 0), since ReadFile does its own waiting.
void WriteTermios(const DCB& dcb, speed_t code, termios& t) {
  cfmakeraw(&t);
  static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= CLOCAL | CREAD | kSizes[dcb.ByteSize - 5];
  if (dcb.Parity != NOPARITY) t.c_cflag |= PARENB;
  if (dcb.Parity == ODDPARITY || dcb.Parity == MARKPARITY) t.c_cflag |= PARODD;
  if (dcb.Parity >= MARKPARITY) t.c_cflag |= CMSPAR;
  if (dcb.StopBits != ONESTOPBIT) t.c_cflag |= CSTOPB;
  if (dcb.fOutxCtsFlow) t.c_cflag |= CRTSCTS;
  t.c_iflag &= ~(IXON | IXOFF | INPCK);
  if (dcb.fOutX) t.c_iflag |= IXON;
  if (dcb.fInX) t.c_iflag |= IXOFF;
  if (dcb.fParity) t.c_iflag |= INPCK;
  t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, code);
  cfsetospeed(&t, code);
}

// DTR and RTS as the control modes ask. A pseudo-terminal has no modem lines and refuses the
// request; that is no reason to refuse the settings.
void SetModemLines(int fd, const DCB& dcb) {
  int dtr = TIOCM_DTR, rts = TIOCM_RTS;
  ioctl(fd, dcb.fDtrControl == DTR_CONTROL_DISABLE ? TIOCMBIC : TIOCMBIS, &dtr);
  ioctl(fd, dcb.fRtsControl == RTS_CONTROL_DISABLE ? TIOCMBIC : TIOCMBIS, &rts);
}

// The DCB that GetCommState reports for the tty's termios.
DCB StateOf(const SerialFile* file, const termios& t) {
  DCB state = file->state;
  if (!file->stateKept) ReadTermios(t, state);
  return state;
}

// The termios a DCB becomes. The very DCB the handle found on opening stands for the terminal
// as it was found, so it becomes exactly that termios (a tty in normal mode goes back to normal
// mode), not a raw rendering of it.
bool TermiosFor(const SerialFile* file, const DCB& dcb, termios& t) {
  if (file->isTty && memcmp(&dcb, &file->foundState, sizeof dcb) == 0) {
    t = file->found;
    return true;
  }
  speed_t code;
  if (!ValidState(dcb, code)) return false;
  WriteTermios(dcb, code, t);
  return true;
}

}  // namespace

DWORD BaudOfSpeed(speed_t code) {
  for (const Speed& speed : kSpeeds) {
    if (speed.code == code) return speed.baud;
  }
  return 0;
}

void LoadKeptSettings(SerialFile* file) {
  file->state = DefaultState();
  file->stateKept = false;
  file->timeouts = COMMTIMEOUTS{};
  termios now;
  bool isTty = tcgetattr(file->fd, &now) == 0;
  pthread_mutex_lock(&keptLock);
  const KeptSettings* entry = FindKept(file);
  if (entry != nullptr && isTty && SameLineSettings(entry->applied, now)) {
    file->state = entry->state;
    file->stateKept = entry->stateKept;
    file->timeouts = entry->timeouts;
  }
  pthread_mutex_unlock(&keptLock);
  file->isTty = isTty;
  if (isTty) {
    file->found = now;
    file->foundState = StateOf(file, now);
  }
}

BOOL GetCommState(HANDLE handle, LPDCB dcb) {
  SerialFile* file = SerialFileOf(handle);
  if (file == nullptr) return FALSE;
  termios t;
  if (tcgetattr(file->fd, &t) != 0) return Fail(errno);
  *dcb = StateOf(file, t);
  return TRUE;
}

BOOL SetCommState(HANDLE handle, LPDCB dcb) {
  SerialFile* file = SerialFileOf(handle);
  if (file == nullptr) return FALSE;
  termios t;
  if (tcgetattr(file->fd, &t) != 0) return Fail(errno);
  if (!TermiosFor(file, *dcb, t)) return Fail(EINVAL);
  // A process that is ending puts its ports back; nothing may change them after that.
  if (!BeginSettingsChange()) return Fail(ECANCELED);
  int error = tcsetattr(file->fd, TCSANOW, &t) == 0 ? 0 : errno;
  EndSettingsChange();
  if (error != 0) return Fail(error);
  // Read back what the driver took: that is what a later handle will find on the device.
  tcgetattr(file->fd, &t);
  SetModemLines(file->fd, *dcb);
  file->state = *dcb;
  file->stateKept = true;
  Keep(file, &t);
  return TRUE;
}

BOOL GetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
  SerialFile* file = SerialFileOf(handle);
  if (file == nullptr) return FALSE;
  *timeouts = file->timeouts;
  return TRUE;
}

BOOL SetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
  SerialFile* file = SerialFileOf(handle);
  if (file == nullptr) return FALSE;
  file->timeouts = *timeouts;
  termios t;
  bool isTty = tcgetattr(file->fd, &t) == 0;
  Keep(file, isTty ? &t : nullptr);
  return TRUE;
}
