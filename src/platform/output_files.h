// Writing the console's output files by UTF-16 path: a file read from flash is written under a
// temporary name and put in place whole; a record line is appended in one write that processes
// sharing the file cannot interleave.
#pragma once

#include <cstddef>
#include <cstdio>

// A new or emptied file for writing bytes, or null.
FILE* OpenFileForWriting(const char16_t* path);

// Puts the file at from in the place of to, replacing what to held, in one step.
bool MoveFileOver(const char16_t* from, const char16_t* to);

void DeleteFileAt(const char16_t* path);

// Appends the bytes to the file (created if absent) with one write at its end.
bool AppendToFile(const char16_t* path, const char* bytes, size_t count);

// This computer's name as UTF-8; empty when the system does not tell.
void HostName(char* name, size_t capacity);
