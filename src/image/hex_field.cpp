// Reading the hexadecimal fields of a HEX record.
#include "image/firmware_image.h"
#include "image/hex_digits.h"

uint32_t ParseHexField(const char* text, int digits) {
  uint32_t value = 0;
  for (int i = 0; i < digits && text[i] != '\0'; i++) value = value * 16 + HexDigitValue(text[i]);
  return value;
}
