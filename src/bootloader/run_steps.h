// The programming run's steps, each callable on its own: the run calls them in its order, and the
// console's other commands (verify, read, info) compose the same steps. Every step logs its own
// lines and sets the Last Status when it fails; the device's port is the steps' shared state, one
// run at a time.
#pragma once

#include <cstdint>

// Empties the log window, the Last Status and the progress line, as every run begins, and
// forgets the previous run's image and device.
void StartRun();

// Loads the HEX file named by HexFileName into the firmware image, and has LoadedImageCheck
// accept it when one is set.
bool LoadFirmwareImage();

// Looks at the image just loaded, before any device is looked for; false refuses it, having
// logged why and set the Last Status. Null (the desktop program's runs) accepts every image.
extern bool (*LoadedImageCheck)();

// Bytes of the image that the run writes; 0 until an image has loaded.
uint32_t LoadedImageLength();

// Finds the device on ComName (or on every port for "probe all") and keeps its port open.
bool FindDevice();

// The flash size the found device reported.
uint32_t FoundFlashSize();

// Checks that the loaded image fits the device's flash.
bool ImageFitsFlash();

bool WriteImage();

// Reads every chunk of the image back and compares it; logs the first difference.
bool VerifyImage();

// Sends the final command and reports the device's verdict; closes the device's session on success.
void Finalize();

// Puts the found device's port back as it was and closes it.
void ReleaseDevice();

// Takes the bytes of one chunk read from flash at offset; false stops the read.
typedef bool (*FlashSink)(uint32_t offset, const uint8_t* bytes, uint32_t n);

// Reads length bytes of flash from offset 0 in chunks, handing each to sink as it comes.
bool ReadFlash(uint32_t length, FlashSink sink);
