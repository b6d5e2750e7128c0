// The control input: a FIFO through which a test tells melor-sim what a pseudo-terminal cannot
// carry (the modem lines the tool drives) and what happens to the board (taken out, put in).
#pragma once

#include <string>
#include <vector>

struct Control {
  int fd = -1;      // the read end, non-blocking
  int writer = -1;  // our own writer, so that the FIFO never reads as ended between writers
  std::string path;
  std::string pending;  // the start of a line whose end has not come yet
};

// Makes path a FIFO (replacing a stale FIFO, nothing else) and opens it.
bool OpenControl(Control& control, const std::string& path, std::string& error);
// Closes the FIFO and removes it.
void CloseControl(Control& control);
// The whole lines written since the last call.
std::vector<std::string> ReadControlLines(Control& control);
