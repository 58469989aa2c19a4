#include "platform/win_api.h"

WinApi win;

void RestoreWinApi() { win = WinApi{}; }
