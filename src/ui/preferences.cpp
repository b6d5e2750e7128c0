// Loading and saving the remembered settings in the registry.
#include "ui/preferences.h"

#include "log/message_log.h"
#include "platform/text.h"
#include "settings/settings.h"

const wchar_t kPreferencesKey[] = L"Software\\Tolvenic\\Pentrel";

namespace {

// Copies one stored value into setting only when it is a REG_SZ whose text ends within the
// setting's 260 characters; anything else (another type, too long, no terminator, absent)
// leaves the setting as it was.
void QuerySetting(HKEY key, const wchar_t* name, char16_t (&setting)[kPathCapacity]) {
  char16_t stored[kPathCapacity];
  DWORD type = 0;
  DWORD size = sizeof stored;
  LONG status = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(stored), &size);
  if (status != ERROR_SUCCESS || type != REG_SZ) return;
  size_t units = size / sizeof(char16_t);
  if (TextLengthWithin(stored, units) == units) return;  // no terminator among the stored units
  TextCopy(setting, kPathCapacity, stored);
}

void StoreSetting(HKEY key, const wchar_t* name, const char16_t* setting) {
  DWORD size = static_cast<DWORD>((TextLength(setting) + 1) * sizeof(char16_t));
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(setting), size);
}

}  // namespace

void LoadPreferences() {
  ResetSettings();
  HKEY key;
  LONG status = RegOpenKeyExW(HKEY_CURRENT_USER, kPreferencesKey, 0, KEY_READ, &key);
  if (status != ERROR_SUCCESS) {
    LogMessage(u"Preferences not found, using defaults. (%d)", static_cast<int32_t>(status));
    return;
  }
  QuerySetting(key, L"HexFileName", HexFileName);
  QuerySetting(key, L"ComName", ComName);
  RegCloseKey(key);
}

void SavePreferences() {
  HKEY key;
  LONG status = RegCreateKeyExW(HKEY_CURRENT_USER, kPreferencesKey, 0, nullptr,
                                REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) {
    LogMessage(u"Unable to save preferences. (%d)", static_cast<int32_t>(status));
    return;
  }
  StoreSetting(key, L"HexFileName", HexFileName);
  StoreSetting(key, L"ComName", ComName);
  RegCloseKey(key);
}
