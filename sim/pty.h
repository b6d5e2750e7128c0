// The pseudo-terminal melor-sim serves on, and the symlink that can point to it.
#pragma once

#include <string>

struct Pty {
  int master = -1;        // non-blocking; melor-sim holds no descriptor of the slave side
  std::string slavePath;  // what the tool opens
};

// Opens a pty pair with the slave in raw mode. On failure returns false with a message in `error`.
bool OpenPty(Pty& pty, std::string& error);
void ClosePty(Pty& pty);

// Drops bytes we wrote that the tool has not read, as a serial line loses whatever is sent while
// nobody listens.
void DropUnreadOutput(const Pty& pty);

// Makes `linkPath` a symlink to the slave, replacing an existing symlink but nothing else.
bool MakeLink(const Pty& pty, const std::string& linkPath, std::string& error);
// Removes `linkPath` if it still points to the slave.
void RemoveLink(const Pty& pty, const std::string& linkPath);
