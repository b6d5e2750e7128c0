// The command-line rules of the desktop program: only the first argument after the program name
// counts. A path becomes HexFileName; "-L" keeps the log window visible beside the setup dialog.
#pragma once

// arguments[0] is the program; arguments may be null when the command line could not be split.
void ApplyCommandLine(int argumentCount, wchar_t** arguments);
