// The terminals that a listing of ports leaves out, so that probing every port never writes
// into them: the kernel's console and the terminal this process runs on.
#pragma once

// Whether the device at path is a console of the kernel (sysfs says so, or the console lists it
// as active) or a terminal of this process's own: its controlling terminal, or the tty of its
// stdin, stdout or stderr.
bool IsConsoleOrOwnTerminal(const char* path);
