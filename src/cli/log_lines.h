// What both console views take from the message log: its lines whole, without trailing spaces.
#pragma once

#include <cstddef>

// The line's length without the spaces that pad it to width.
size_t TrimmedLength(const char16_t* line, size_t width);

// Hands every log line the view has not shown yet to each, whole (not cut to the window's row),
// oldest first, under the log's lock; blank lines are left out.
void ForEachPendingLine(void (*each)(const char16_t* line, size_t length));
