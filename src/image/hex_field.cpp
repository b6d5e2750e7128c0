// Reading the hexadecimal fields of a HEX record.
#include "image/firmware_image.h"

namespace {

// Anything that is not a hexadecimal digit counts as 0; the checksum catches such records.
uint32_t DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

}  // namespace

uint32_t ParseHexField(const char* text, int digits) {
  uint32_t value = 0;
  for (int i = 0; i < digits && text[i] != '\0'; i++) value = value * 16 + DigitValue(text[i]);
  return value;
}
