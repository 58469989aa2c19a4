#pragma once

#include "platform/windows.h"

// Loads a library from the system folder only, never from the current or the program's folder.
HMODULE LoadSystemLibrary(const char* fileName);
