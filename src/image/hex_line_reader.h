// Reading a HEX file the way the loader sees it: in reads of at most 99 characters into a
// 100-byte buffer, a read ending early after a line end. CR LF and LF each end a line (CR LF is
// delivered as a single '\n'); a lone CR is an ordinary character. The same on every platform,
// whatever the C library's text mode would do.
#pragma once

#include <cstdio>

constexpr int kHexLineCapacity = 100;  // one read: 99 characters and a terminator

// Starts reading file from its beginning. The stream must not have been read from yet: it is
// switched to unbuffered, and the reader keeps its own static buffer instead of the heap.
void BeginHexLines(FILE* file);

// Fills line with the next read, terminated, and returns the number of characters stored (the
// '\n' of a line end included). Returns -1 at the end of the file or on a read error.
int ReadHexLine(char (&line)[kHexLineCapacity]);

// Whether reading stopped because the file could not be read, rather than at its end.
bool HexLinesFailed();
