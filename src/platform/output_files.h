// Writing the console's output files by UTF-16 path, so that what is reported written survives a
// power cut: a file read from flash is written under a temporary name of its own in its folder
// and put in place whole, flushed to the disk before and after; a record line is appended in one
// write that processes sharing the file cannot interleave, and flushed to the disk.
#pragma once

#include <cstddef>
#include <cstdio>

// ".pentrel-" + 16 random hex digits + ".part": the temporary file's name within its folder.
constexpr size_t kTemporaryNameLength = 30;

// Whether the system takes path as a file's name, and the name of a temporary file beside it.
bool OutputNameFits(const char16_t* path);

// Creates a file that did not exist, under an unpredictable name in the folder of path (never
// following a link that stands there), and opens it for writing bytes; its path goes to
// temporary, which holds at least the capacity of path plus kTemporaryNameLength. Null when no
// such file can be made.
FILE* CreateFileBeside(const char16_t* path, char16_t* temporary, size_t capacity);

// Flushes the stream's bytes to the disk and closes it; false when either failed.
bool CloseDurably(FILE* file);

// Puts the file at from in the place of to, replacing what to held, in one step that is itself
// on the disk when this returns.
bool MoveFileOver(const char16_t* from, const char16_t* to);

void DeleteFileAt(const char16_t* path);

// Opens the file for appending, creating it when absent, and closes it again: whether records
// can be kept there.
bool CanAppendTo(const char16_t* path);

// Appends the bytes to the file (created if absent) with one write at its end, and flushes them
// to the disk.
bool AppendToFile(const char16_t* path, const char* bytes, size_t count);

// This computer's name as UTF-8; empty when the system does not tell.
void HostName(char* name, size_t capacity);
