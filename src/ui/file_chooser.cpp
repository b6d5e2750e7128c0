// Choosing the HEX file with the system's file-open dialog.
#include "ui/file_chooser.h"

#include <commdlg.h>

#include "platform/text.h"
#include "settings/settings.h"

void BrowseForHexFile(HWND owner) {
  char16_t picked[kPathCapacity];
  TextCopy(picked, kPathCapacity, HexFileName);
  OPENFILENAMEW dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = L"Hex\0*.hex\0All\0*.*\0";
  dialog.lpstrFile = Win32Text(picked);
  dialog.nMaxFile = kPathCapacity;
  if (GetOpenFileNameW(&dialog)) TextCopy(HexFileName, kPathCapacity, picked);
}
