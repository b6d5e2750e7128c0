// Where the kernel's own views of the machine are read: /sys and /proc, below the folder named by
// $PENTREL_SYSTEM_ROOT when it is set, so that a made-up tree can stand in for them.
#pragma once

#include <cstddef>

// The root followed by the absolute path that format makes; false when it does not fit.
bool SystemPath(char* path, size_t capacity, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// The first line of the file at the path below the root, without its line end; false (and empty)
// when it cannot be read.
bool ReadSystemLine(char* value, size_t capacity, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// From /proc/<pid>/stat: the process's parent and its controlling terminal (the kernel's tty_nr,
// 0 for none); false when the process cannot be read.
bool ReadProcessStat(long pid, long* parent, unsigned* terminal);
