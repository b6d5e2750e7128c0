// ReadFile and WriteFile under a test's control, for a binary linked with -Wl,--wrap=ReadFile and
// -Wl,--wrap=WriteFile (the pentrel_scripted_reads library brings both). Every read first hands
// out the scripted pieces, in order, so that a test says exactly where the byte stream splits
// into reads and how many reads come back empty (each one a read period that passed with
// nothing); after them reads go to the port, or fail, as the script says.
#pragma once

#include <cstdint>
#include <vector>

// The pieces the next reads return (an empty piece is a read that timed out with nothing). Once
// they are used up, reads fail (failAfter) or go to the port as usual. Clears every hold.
void ScriptReads(std::vector<std::vector<uint8_t>> pieces, bool failAfter = true);

// From now on, each frame written whose payload begins with code is followed by `empties` empty
// reads before the port is read again: its reply comes exactly that many read periods late.
void HoldReplies(uint8_t code, int empties);

// The reads made since the last write, and since the last ScriptReads.
int ReadsSinceLastWrite();
int ReadsMade();
