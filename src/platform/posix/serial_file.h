// The file object behind a serial-port handle on POSIX, shared by the file calls (CreateFileW,
// ReadFile, WriteFile) and the line-settings calls (GetCommState and friends).
#pragma once

#include <sys/types.h>
#include <termios.h>

#include "handle_object.h"

struct SerialFile {
  HandleObject header;
  int fd;                    // non-blocking; waits go through poll
  dev_t device;              // with inode: which device this is, for its kept settings
  ino_t inode;
  DCB state;                 // the last DCB given, or the defaults beside termios
  bool stateKept;            // state is what the device was last given, termios and all
  COMMTIMEOUTS timeouts;     // the time-outs ReadFile and WriteFile honour
  bool isTty;
  termios found;             // the tty's settings when it was opened, to put back exactly
  DCB foundState;            // what GetCommState reported for them
};

// The serial file behind a handle, or null with ERROR_INVALID_HANDLE set.
SerialFile* SerialFileOf(HANDLE handle);

// Loads the settings the device keeps from earlier handles (or the defaults of a device not yet
// set up) into a newly opened file, and notes the tty's settings as found.
void LoadKeptSettings(SerialFile* file);
