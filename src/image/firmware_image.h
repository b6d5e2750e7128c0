// The firmware image: an in-memory copy of the device's program flash from address 0x1D000000,
// filled from the Intel HEX file named by HexFileName.
#pragma once

#include <cstdint>

constexpr uint32_t kImageBase = 0x1D000000;  // HEX address of bytes[0]
constexpr uint32_t kImageSize = 0x90000;     // 589,824 bytes: 0x1D000000 to 0x1D08FFFF

struct FirmwareImageStore {
  uint8_t bytes[kImageSize];  // bytes[k] holds HEX address kImageBase + k; 0xFF where unset
  uint32_t highestEnd;        // one past the highest data byte stored; 0 when none
};

extern FirmwareImageStore FirmwareImage;

// Loads the file named by HexFileName into FirmwareImage. Returns 0 on success and -1 on
// failure, having logged why and set the Last Status.
int LoadHexFile();

// Whether the last load stopped at an end-of-file record. A file without one loads as it stands,
// so a file cut short (still being copied, say) loads too; the console warns about it.
bool HexFileEndedWithRecord();

// The value of a hexadecimal field of up to digits characters (2 or 4) at text; a field cut short
// by the end of the text yields the digits seen so far.
uint32_t ParseHexField(const char* text, int digits);
