// Raw binary images for program and verify: a file whose name ends in .bin (any case) holds the
// image's bytes as they stand, placed from 0x1D000000 or from --address; every other name is
// Intel HEX, loaded as the desktop program loads it.
#pragma once

#include <cstdint>
#include <string>

bool IsRawImageName(const std::string& file);

// From now on the run loads HexFileName as raw bytes placed at address. Erased bytes (0xFF) at
// the file's end are left out of the image, as a HEX file leaves them out, so that a whole-flash
// backup fits the flash it came from.
void UseRawImage(uint32_t address);
