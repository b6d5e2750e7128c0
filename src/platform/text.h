// UTF-16 text helpers: every string of the core is char16_t in a fixed-capacity buffer. These
// measure, compare and copy such text, convert it to and from UTF-8 (POSIX file names, console
// output), and hand it to Win32 calls, which take the same 16-bit code units as WCHAR.
#pragma once

#include <cstddef>

#include "win32.h"

// Number of code units before the terminator.
size_t TextLength(const char16_t* text);

// Code units before the terminator, but never more than capacity (for buffers that may lack one).
size_t TextLengthWithin(const char16_t* text, size_t capacity);

// Exact comparison of code units, terminator included.
bool TextEqual(const char16_t* a, const char16_t* b);

// Copies at most capacity - 1 code units and a terminator; returns the count copied. A capacity
// of 0 writes nothing.
size_t TextCopy(char16_t* destination, size_t capacity, const char16_t* source);

// Bytes and UTF-16 both ways without loss, as POSIX file names need: a byte that is not part of
// valid UTF-8 becomes the lone surrogate U+DC00 + byte (U+DC80 to U+DCFF), and that unit becomes
// the byte again; any other lone surrogate becomes U+FFFD.

// Converts UTF-16 (up to its terminator) to terminated UTF-8. Returns false, leaving an empty
// string, when the result does not fit in capacity bytes (3 a code unit always do).
bool Utf16ToUtf8(const char16_t* source, char* destination, size_t capacity);

// The same for length code units, terminated or not.
bool Utf16ToUtf8(const char16_t* source, size_t length, char* destination, size_t capacity);

// Converts terminated UTF-8 (or any bytes) to terminated UTF-16. Returns false, leaving an empty
// string, when the result does not fit in capacity code units.
bool Utf8ToUtf16(const char* source, char16_t* destination, size_t capacity);

// The same text as Win32 calls take it.
inline const WCHAR* Win32Text(const char16_t* text) {
  return reinterpret_cast<const WCHAR*>(text);
}
inline WCHAR* Win32Text(char16_t* text) { return reinterpret_cast<WCHAR*>(text); }

static_assert(sizeof(WCHAR) == sizeof(char16_t), "Win32 text is UTF-16 code units");
