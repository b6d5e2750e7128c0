// The serial ports of a Linux machine as the kernel shows them in /sys/class/tty, and the COM
// names they go by.
#pragma once

#include <cstddef>

constexpr size_t kTtyNameBytes = 64;

// The COM number of a tty by its kernel name ("ttyUSB0" is 33); 0 when no range holds it.
int ComNumberOf(const char* tty);

// The kernel name of the tty that COM<number> stands for; false when no range holds the number.
bool TtyOfComNumber(int number, char* tty, size_t capacity);

// Whether the tty is a serial port with hardware behind it: a device in sysfs (not a virtual
// console or a pseudo-terminal), and for a UART driver a UART that was found.
bool IsSerialTty(const char* tty);

// The serial ttys present, by COM number and then, for those without one, by name. Returns how
// many were stored; a machine with more than capacity lists the first it finds.
int ListSerialTtys(char (*ttys)[kTtyNameBytes], int capacity);
