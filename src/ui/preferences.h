// The two remembered settings in the current user's registry: HexFileName and ComName as REG_SZ
// values under HKEY_CURRENT_USER\Software\Tolvenic\Pentrel.
#pragma once

extern const wchar_t kPreferencesKey[];

// Sets both settings to their defaults, then takes every stored value that is a terminated
// REG_SZ of at most 259 characters. A missing key is logged; the defaults then stand.
void LoadPreferences();

// Writes both settings as they are in memory, creating the key if needed; a failure is logged.
void SavePreferences();
