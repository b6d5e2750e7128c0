// Applying the command line to the settings, after the stored preferences have been loaded.
#include "ui/command_line.h"

#include "settings/settings.h"
#include "ui/ui_state.h"

void ApplyCommandLine(int argumentCount, wchar_t** arguments) {
  if (arguments == nullptr || argumentCount < 2) return;
  const char16_t* first = reinterpret_cast<const char16_t*>(arguments[1]);
  if (first[0] != u'-') {
    // A path too long for the setting leaves it empty rather than naming a different file.
    FormatPath(HexFileName, u"%ws", first);
  } else if (first[1] == u'L') {
    HideLogWindow = 0;
  }
}
