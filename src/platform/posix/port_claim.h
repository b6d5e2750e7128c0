// Taking a serial device for one user at a time, and giving it back.
#pragma once

// Claims the open device for this handle alone. A device counts as in use when another program
// holds it in a way that can be seen: has the tty open (another process, see port_users.h), an
// flock on it, a UUCP lock file with a live pid (LCK..NAME in /var/lock or /run/lock), or a
// tty's exclusive mode. Returns 0, or the errno
// that says why not (EBUSY or EWOULDBLOCK for a device in use).
int ClaimDevice(int fd, const char* path);

// Gives a claimed device back before its descriptor is closed: the tty's exclusive mode would
// otherwise outlive the close on a pseudo-terminal whose far end stays open.
void UnclaimDevice(int fd);
