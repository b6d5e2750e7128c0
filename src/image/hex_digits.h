// Hexadecimal digit values by table: the loader decodes every character of a HEX file, so this
// is its innermost step.
#pragma once

#include <cstdint>

namespace hex_digits {

constexpr struct DigitTable {
  uint8_t value[256];
  constexpr DigitTable() : value() {
    for (int c = '0'; c <= '9'; c++) value[c] = static_cast<uint8_t>(c - '0');
    for (int c = 'a'; c <= 'f'; c++) value[c] = static_cast<uint8_t>(c - 'a' + 10);
    for (int c = 'A'; c <= 'F'; c++) value[c] = static_cast<uint8_t>(c - 'A' + 10);
  }
} kTable;

}  // namespace hex_digits

// The value of a hexadecimal digit of either case; any other character counts as 0.
inline uint8_t HexDigitValue(char c) { return hex_digits::kTable.value[static_cast<uint8_t>(c)]; }

// The byte written as the two characters at text, both of which must have been read.
inline uint8_t HexByteAt(const char* text) {
  return static_cast<uint8_t>(HexDigitValue(text[0]) << 4 | HexDigitValue(text[1]));
}
