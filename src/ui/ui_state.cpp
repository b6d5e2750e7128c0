// Storage of the desktop program's shared state.
#include "ui/ui_state.h"

HINSTANCE Instance = nullptr;
int32_t HideLogWindow = 1;
HFONT StatusFont = nullptr;
HANDLE WorkerThreadHandle = INVALID_HANDLE_VALUE;
