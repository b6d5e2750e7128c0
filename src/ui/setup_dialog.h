// The setup dialog (dialog 129): the user picks the HEX file and the COM port, reads the last
// run's outcome, and either starts a run (Program) or leaves, saving the choices (Exit).
#pragma once

#include "platform/win32.h"

INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
