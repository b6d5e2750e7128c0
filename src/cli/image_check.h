// What the console checks of a loaded image: that a station's runs write the image the station
// started with, even when the HEX file is replaced during a shift, and that a file without its
// end-of-file record (perhaps still being copied) does not pass unremarked.
#pragma once

#include <string>

#include "cli/command_line.h"

// The digest of the bytes the run writes: the loaded image, rounded up with the erased value.
std::string LoadedImageDigest();

// Loads the request's HEX file once, in this process, for its children to compare with; its
// digest, or "none" when it does not load (its children then refuse any image that loads).
std::string ImageDigestForChildren(const Request& request);

// Makes the runs in this process check each image as it loads: the warning above, unless a parent
// gave it already, and the parent's digest when there is one.
void CheckLoadedImages(const Request& request);
