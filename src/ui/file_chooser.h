// The file-open dialog of the setup dialog's Browse button.
#pragma once

#include "platform/win32.h"

// Lets the user pick a HEX file; a picked file replaces HexFileName, a cancel changes nothing.
void BrowseForHexFile(HWND owner);
