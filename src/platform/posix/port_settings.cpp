// On POSIX the found settings are kept where a tty is opened (open_ports.cpp), as the terminal's
// own settings, which a DCB cannot hold whole.
#include "../port_settings.h"

void KeepFoundSettings(HANDLE, const DCB&, const COMMTIMEOUTS&) {}

void DropFoundSettings(HANDLE) {}
