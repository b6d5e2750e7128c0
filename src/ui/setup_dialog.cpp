// The setup dialog: opening, Program, Browse and Exit.
#include "ui/setup_dialog.h"

#include "bootloader/program_thread.h"
#include "log/message_log.h"
#include "platform/text.h"
#include "serial/port_list.h"
#include "settings/settings.h"
#include "ui/file_chooser.h"
#include "ui/preferences.h"
#include "ui/resource.h"
#include "ui/run_start.h"
#include "ui/ui_state.h"

namespace {

// The dialog's port list lives for the whole process and is rebuilt at every opening.
PortList DialogPorts = nullptr;

// The dialog opens where the log window is; with HideLogWindow the log steps aside for it.
void TakeLogWindowPlace(HWND dialog) {
  ShowWindow(dialog, SW_HIDE);
  RECT owner;
  GetWindowRect(GetWindow(dialog, GW_OWNER), &owner);
  SetWindowPos(dialog, nullptr, owner.left, owner.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ShowWindow(dialog, SW_SHOW);
  if (HideLogWindow) ShowWindow(LogWindow, SW_HIDE);
}

// "probe all", then every usable port; the field shows ComName only if a port is named exactly
// so (case-sensitive), and "probe all" otherwise.
void FillPortChoice(HWND dialog) {
  HWND combo = GetDlgItem(dialog, IDC_COM_PORT);
  BuildPortList(&DialogPorts);
  SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Win32Text(kProbeAll)));
  bool matched = false;
  for (PortNode* node = DialogPorts; node != nullptr; node = node->next) {
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Win32Text(node->name)));
    if (!matched && TextEqual(node->name, ComName)) matched = true;
  }
  SetWindowTextW(combo, Win32Text(matched ? ComName : kProbeAll));
}

void ShowLastStatus(HWND dialog) {
  SetDlgItemTextW(dialog, IDC_LAST_STATUS, Win32Text(MessageLog.lastStatus));
}

BOOL OnOpen(HWND dialog) {
  if (WorkerThreadHandle != INVALID_HANDLE_VALUE) {
    // Sent by that very thread, which ends once this dialog has; only the handle is released.
    CloseHandle(WorkerThreadHandle);
    WorkerThreadHandle = INVALID_HANDLE_VALUE;
  }
  TakeLogWindowPlace(dialog);
  SendDlgItemMessageW(dialog, IDC_LAST_STATUS, WM_SETFONT, reinterpret_cast<WPARAM>(StatusFont),
                      FALSE);
  ShowLastStatus(dialog);
  SetDlgItemTextW(dialog, IDC_HEX_FILE, Win32Text(HexFileName));
  FillPortChoice(dialog);
  return TRUE;  // the default focus: the first tab stop, Program
}

BOOL OnProgram(HWND dialog) {
  GetDlgItemTextW(dialog, IDC_HEX_FILE, Win32Text(HexFileName), kPathCapacity);
  GetWindowTextW(GetDlgItem(dialog, IDC_COM_PORT), Win32Text(ComName), kPathCapacity);
  EndDialog(dialog, IDOK);
  if (HideLogWindow) {
    RECT place;
    GetWindowRect(dialog, &place);
    SetWindowPos(LogWindow, nullptr, place.left, place.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ShowWindow(LogWindow, SW_SHOW);
  }
  StartRun(ProgramThread, 0);
  return TRUE;
}

BOOL OnBrowse(HWND dialog) {
  BrowseForHexFile(dialog);
  SetDlgItemTextW(dialog, IDC_HEX_FILE, Win32Text(HexFileName));
  SetLastStatus(u"");
  ShowLastStatus(dialog);
  return TRUE;
}

BOOL OnExit(HWND dialog) {
  SavePreferences();
  EndDialog(dialog, IDCANCEL);
  PostMessageW(LogWindow, WM_DESTROY, 0, 0);
  return TRUE;
}

}  // namespace

INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return OnOpen(dialog);
    case WM_HELP:
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          return OnProgram(dialog);
        case IDC_BROWSE:
          return OnBrowse(dialog);
        case IDCANCEL:
          return OnExit(dialog);
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}
