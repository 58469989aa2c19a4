// Functions that an older Windows or Wine may lack are not members of the seam: they are found at
// run time, through the seam's own GetModuleHandleW and GetProcAddress, so tests can fake them too.
#pragma once

#include "platform/win_api.h"

// The function `name` of `module`, typed; null when the module or the function is missing.
template <typename Function>
Function FindEntryPoint(HMODULE module, const char* name) {
    if (!module) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(win.GetProcAddress(module, name)));
}

// The same for a module the process has loaded already (kernel32.dll, shlwapi.dll).
template <typename Function>
Function FindLoadedEntryPoint(const wchar_t* moduleName, const char* name) {
    return FindEntryPoint<Function>(win.GetModuleHandleW(moduleName), name);
}
