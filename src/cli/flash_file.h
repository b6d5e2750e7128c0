// The file that read fills: Intel HEX when its name ends in .hex (any case), the raw bytes
// otherwise. It is written under a temporary name of its own in the same folder and put in place,
// flushed to the disk, only when the whole read succeeded, so a failed read never leaves a
// partial file and never replaces an existing one.
#pragma once

#include <cstdint>
#include <string>

#include "bootloader/command_threads.h"

// The read request that fills the file at path (UTF-16, as the core's texts are); digest: whether
// the SHA-256 of the bytes read is wanted.
ReadRequest FlashFileRequest(const std::u16string& path, uint32_t length, bool digest);

// Closes and removes the temporary file unless the read put it in place.
void DiscardFlashFile();

// Removes the temporary file without closing it: all that an interrupt handler may do.
void RemoveFlashFileNow();

// Bytes put in place and their SHA-256 (empty unless asked for); 0 bytes when nothing was.
uint32_t FlashFileBytes();
std::string FlashFileDigest();
