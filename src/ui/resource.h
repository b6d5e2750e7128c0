// Resource identifiers of pentrel.exe, shared by the resource script and the code.
#pragma once

// Strings: the window title and the window class name.
#define IDS_APP_TITLE 103
#define IDS_WINDOW_CLASS 109

// The program's icon group (16, 32, 48 and 64 px).
#define IDI_PENTREL 134

// Accelerators of the log window, and the one command they give.
#define IDA_PENTREL 109
#define IDM_ABOUT 104

// Dialogs.
#define IDD_ABOUTBOX 103
#define IDD_SETUP 129

// Controls of the setup dialog.
#define IDC_HEX_FILE 1004
#define IDC_BROWSE 1005
#define IDC_COM_PORT 1006
#define IDC_LAST_STATUS 1009

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
