#include "base/system_library.h"

#include <cstring>

#include "platform/win_api.h"

HMODULE LoadSystemLibrary(const char* fileName) {
    char path[MAX_PATH + 1] = {};
    UINT length = win.GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    size_t nameLength = strlen(fileName);
    if (length + 1 + nameLength >= sizeof(path)) return nullptr;
    path[length] = '\\';
    memcpy(path + length + 1, fileName, nameLength + 1);
    return win.LoadLibraryA(path);
}
