// Bounded, type-safe printf-style formatting over UTF-16 text. The conversions: %d (signed
// 32-bit), %u, %x and %X (unsigned 32-bit hexadecimal), with an optional 0 flag and width as in
// %02x, %% (a percent sign), and %s and %ws (both a UTF-16 string). Arguments are checked: a type
// that no conversion takes does not compile, and a conversion given the wrong kind of argument
// (or none) makes the text "cannot be formatted", which is handled like text that does not fit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

struct FormatArg {
  enum class Kind { Number, Text } kind;
  int64_t number;
  const char16_t* text;
};

template <typename T, typename = std::enable_if_t<std::is_integral_v<T>>>
constexpr FormatArg MakeFormatArg(T value) {
  return FormatArg{FormatArg::Kind::Number, static_cast<int64_t>(value), nullptr};
}
constexpr FormatArg MakeFormatArg(const char16_t* text) {
  return FormatArg{FormatArg::Kind::Text, 0, text};
}

// What one formatting pass produced.
struct FormatResult {
  size_t length;  // code units stored, terminator not counted
  bool complete;  // the whole text fitted and every conversion had its argument
};

// Formats into destination, storing at most capacity - 1 code units and always a terminator
// (capacity must be at least 1).
FormatResult FormatArgs(char16_t* destination, size_t capacity, const char16_t* format,
                        const FormatArg* args, size_t argCount);

// The bounded formatting every text of the system goes through: at most capacity - 1 code units
// and a terminator; longer text is cut silently. A capacity of 0 or above 2,147,483,647 writes
// nothing. Returns the length stored.
size_t FormatBoundedArgs(char16_t* destination, size_t capacity, const char16_t* format,
                         const FormatArg* args, size_t argCount);

// Like FormatBoundedArgs with 260 code units, but text that does not fit leaves it empty.
size_t FormatPathArgs(char16_t* destination, const char16_t* format, const FormatArg* args,
                      size_t argCount);

// Formats one fixed-width line of width code units: the text, then spaces to the end, with no
// terminator. Text of width - 1 code units or more keeps its first width - 1 and one space.
void FormatLineArgs(char16_t* line, size_t width, const char16_t* format, const FormatArg* args,
                    size_t argCount);

// The fixed-width line that FormatLineArgs makes of text already formatted, length code units.
void FillLine(char16_t* line, size_t width, const char16_t* text, size_t length);

constexpr size_t kPathCapacity = 260;

template <typename... A>
size_t FormatBounded(char16_t* destination, size_t capacity, const char16_t* format, A... args) {
  const FormatArg packed[] = {MakeFormatArg(args)..., FormatArg{}};
  return FormatBoundedArgs(destination, capacity, format, packed, sizeof...(A));
}

template <typename... A>
size_t FormatPath(char16_t (&destination)[kPathCapacity], const char16_t* format, A... args) {
  const FormatArg packed[] = {MakeFormatArg(args)..., FormatArg{}};
  return FormatPathArgs(destination, format, packed, sizeof...(A));
}
