// The Windows seam: every Windows function the program calls, one member each, named as Windows
// names it and initialised to the real function. Code outside src/platform calls Windows only
// through `win`, so a test can replace any call to simulate what the real system cannot show
// (read errors, drivers, disks, keys). Functions that may be missing on an older Windows or under
// Wine are not members: they are found at run time through GetModuleHandle/GetProcAddress, which
// a test can replace as well.
//
// Tests write the table before the threads that read it start, and restore it afterwards.
#pragma once

#include "platform/windows.h"

#define QVB_SEAM(name) decltype(&::name) name = ::name;

struct WinApi {
#include "platform/win_api_entries.h"
};

#undef QVB_SEAM

extern WinApi win;

// Puts every entry back to the seam's base: the real function, unless a test put a layer under
// every fake (SetSeamBase).
void RestoreWinApi();

// Makes `base` the table that RestoreWinApi puts back, and the seam itself. Tests only.
void SetSeamBase(const WinApi& base);
const WinApi& SeamBase();
