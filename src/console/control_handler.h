#pragma once

#include "platform/windows.h"

// Console control events: Ctrl+C, Ctrl+Break, close, logoff, shutdown.
BOOL WINAPI ConsoleControlHandler(DWORD event);
