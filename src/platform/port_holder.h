// Who held a port that this process could not open: on Linux another program that has the device
// open, as /proc shows it; Windows does not tell.
#pragma once

constexpr unsigned kHolderNameCapacity = 260;

struct PortHolder {
  char16_t device[kHolderNameCapacity];   // the device's path
  char16_t program[kHolderNameCapacity];  // the holder's command name
  unsigned long pid;
};

// The holder that made this process's last refused open of a port fail; false when that open
// failed for another reason, or none was refused.
bool LastPortHolder(PortHolder* holder);
