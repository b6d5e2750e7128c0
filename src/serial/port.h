// Opening a COM port for exclusive use with the bootloader's line settings (57600 8N1, no flow
// control, DTR and RTS on, reads that return within 100 ms), and putting it back as it was.
#pragma once

#include "log/format.h"
#include "platform/win32.h"

// The quiet gap in milliseconds that ends a read in the fast reply mode once bytes have come.
// Bytes paced at 57600 baud come well within it (99% of gaps under 1.5 ms), so a steady reply is
// not cut into many reads. A USB adapter's bursts, 16 ms apart, do end a read between them; that
// costs nothing, because a reply wait gathers its frame across reads and only a read that stays
// empty for the whole read period counts against its retries.
constexpr DWORD kFastReplyInterval = 5;

// "\\.\NAME" into path, cut to 259 characters.
void BuildPortPath(char16_t (&path)[kPathCapacity], const char16_t* name);

// Opens and configures the port; copies its previous state and time-outs into the given storage
// (either may be null). Returns INVALID_HANDLE_VALUE after logging why.
HANDLE OpenPort(const char16_t* name, DCB* savedState, COMMTIMEOUTS* savedTimeouts);

// Puts the saved state and time-outs back (each only if given) and closes the port.
void RestorePort(HANDLE port, DCB* savedState, COMMTIMEOUTS* savedTimeouts);
